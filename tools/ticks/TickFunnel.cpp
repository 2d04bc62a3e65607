// Runs gathered from their ticks and folded into per-version figures as they end.
#include "tools/ticks/TickFunnel.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr int64_t kNotReached = INT64_MAX;
// Version texts are shown and used as keys: longer ones are cut.
constexpr size_t kMaxVersionLength = 64;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2
                                            : (lead >> 4) == 14  ? 3
                                            : (lead >> 3) == 30  ? 4
                                                                 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += length;
    }
    return true;
}

} // namespace

std::string DecodeItem(std::string_view value) {
    std::string text;
    for (size_t i = 0; i < value.size() && text.size() < kMaxVersionLength; ++i) {
        char c = value[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 && HexValue(value[i + 2]) >= 0) {
            c = char(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
            i += 2;
        }
        text += c;
    }
    // Shown on terminals and written into JSON and SVG: control bytes and broken UTF-8 become '?'.
    const bool utf8 = IsUtf8(text);
    for (char& c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (!utf8 && byte >= 0x80)) c = '?';
    }
    return text;
}

// ---------------------------------------------------------------------------------------------

int TimeHistogram::BucketOf(int64_t ms) {
    if (ms < 0) ms = 0;
    if (ms < kExact) return int(ms);
    const uint64_t value = std::min<uint64_t>(uint64_t(ms), (uint64_t(1) << 32) - 1);
    const int shift = std::bit_width(value) - 10;
    return kExact + (shift - 1) * kSteps + int(value >> shift) - kSteps;
}

double TimeHistogram::ValueOf(int bucket) {
    if (bucket < kExact) return bucket;
    const int shift = (bucket - kExact) / kSteps + 1;
    const uint64_t lower = uint64_t((bucket - kExact) % kSteps + kSteps) << shift;
    return double(lower) + double((uint64_t(1) << shift) - 1) / 2.0;
}

void TimeHistogram::Add(int64_t ms) {
    if (mBuckets.empty()) mBuckets.assign(kBuckets, 0);
    ++mBuckets[size_t(BucketOf(ms))];
    ++mCount;
}

void TimeHistogram::Merge(const TimeHistogram& other) {
    if (other.mCount == 0) return;
    if (mBuckets.empty()) mBuckets.assign(kBuckets, 0);
    for (size_t i = 0; i < mBuckets.size(); ++i) mBuckets[i] += other.mBuckets[i];
    mCount += other.mCount;
}

double TimeHistogram::Percentile(double share) const {
    if (mCount == 0) return -1.0;
    const uint64_t rank = std::max<uint64_t>(1, uint64_t(std::ceil(share * double(mCount) - 1e-9)));
    uint64_t seen = 0;
    for (size_t i = 0; i < mBuckets.size(); ++i) {
        seen += mBuckets[i];
        if (seen >= rank) return ValueOf(int(i));
    }
    return ValueOf(kBuckets - 1);
}

void VersionFigures::Merge(const VersionFigures& other) {
    mRuns += other.mRuns;
    for (int state = 0; state < kStateCount; ++state) {
        mReached[state] += other.mReached[state];
        mStopped[state] += other.mStopped[state];
        mTimeTo[state].Merge(other.mTimeTo[state]);
    }
    mWarm += other.mWarm;
    mOpenAtEnd += other.mOpenAtEnd;
    for (size_t i = 0; i < mStoppedProgress.size(); ++i) mStoppedProgress[i] += other.mStoppedProgress[i];
    mStoppedWithoutProgress += other.mStoppedWithoutProgress;
}

// ---------------------------------------------------------------------------------------------

struct TickFunnel::Run {
    std::string mId;
    int64_t mFirst = kNotReached;
    int64_t mHeard = INT64_MIN; // the log's clock at the run's last tick
    std::array<int64_t, kStateCount> mAt;
    int64_t mProgressAt = INT64_MIN;
    float mProgress = -1.0f;
    size_t mVersion = SIZE_MAX;
    bool mFolded = false;
    Run* mPrev = nullptr;
    Run* mNext = nullptr;

    Run() { mAt.fill(kNotReached); }
};

TickFunnel::TickFunnel(int64_t idleMs) : mIdleMs(idleMs > 0 ? idleMs : 1) {}

TickFunnel::~TickFunnel() {
    for (auto& [id, run] : mRuns) delete run;
}

void TickFunnel::Unlink(RunList& list, Run* run) {
    (run->mPrev ? run->mPrev->mNext : list.mFirst) = run->mNext;
    (run->mNext ? run->mNext->mPrev : list.mLast) = run->mPrev;
    run->mPrev = run->mNext = nullptr;
}

void TickFunnel::Append(RunList& list, Run* run) {
    run->mPrev = list.mLast;
    run->mNext = nullptr;
    (list.mLast ? list.mLast->mNext : list.mFirst) = run;
    list.mLast = run;
}

void TickFunnel::Remove(Run* run) {
    Unlink(run->mFolded ? mFinished : mOpen, run);
    mRuns.erase(std::string_view(run->mId));
    delete run;
}

size_t TickFunnel::VersionIndex(std::string_view rawVersion) {
    if (mLastVersionIndex != SIZE_MAX && rawVersion == mLastRawVersion) return mLastVersionIndex;
    std::string name = DecodeItem(rawVersion);
    auto found = mVersionIndex.find(name);
    size_t index;
    if (found != mVersionIndex.end()) {
        index = found->second;
    } else if (mVersions.size() + 1 < kMaxVersions) {
        index = mVersions.size();
        mVersions.push_back({});
        mVersions.back().mAppVersion = name;
        mVersionIndex.emplace(name, index);
    } else {
        // Past the limit every new version text counts under one entry.
        auto other = mVersionIndex.find("(other)");
        if (other == mVersionIndex.end()) {
            mVersions.push_back({});
            mVersions.back().mAppVersion = "(other)";
            other = mVersionIndex.emplace("(other)", mVersions.size() - 1).first;
        }
        index = other->second;
    }
    mLastRawVersion.assign(rawVersion);
    mLastVersionIndex = index;
    return index;
}

void TickFunnel::Fold(Run& run, bool openAtEnd) {
    VersionFigures& figures = mVersions[run.mVersion != SIZE_MAX ? run.mVersion : VersionIndex("")];
    ++figures.mRuns;
    int furthest = 0;
    for (int state = 0; state < kStateCount; ++state) {
        if (run.mAt[state] == kNotReached) continue;
        ++figures.mReached[state];
        figures.mTimeTo[state].Add(run.mAt[state] - run.mFirst);
        furthest = state;
    }
    const int64_t files = run.mAt[4], created = run.mAt[5];
    if (files != kNotReached && created != kNotReached && created >= files && created - files <= kWarmMs)
        ++figures.mWarm;
    if (furthest == kHandedOver) return;
    // A run still ticking when the log ends may yet get further: it is not counted as lost.
    if (openAtEnd) {
        ++figures.mOpenAtEnd;
        return;
    }
    ++figures.mStopped[furthest];
    if (run.mProgress < 0.0f)
        ++figures.mStoppedWithoutProgress;
    else
        ++figures.mStoppedProgress[std::min<size_t>(9, size_t(run.mProgress * 10.0f))];
}

void TickFunnel::Expire(int64_t now) {
    while (mOpen.mFirst && mOpen.mFirst->mHeard < now - mIdleMs) {
        Run* run = mOpen.mFirst;
        Fold(*run, false);
        Remove(run);
    }
    while (mFinished.mFirst && mFinished.mFirst->mHeard < now - kFinishedGraceMs) Remove(mFinished.mFirst);
}

void TickFunnel::AddLine(std::string_view line) {
    ++mCounts.mLines;
    const TickLine tick = ReadTickLine(line);
    switch (tick.mKind) {
    case LineKind::Tick: AddTick(tick); break;
    case LineKind::NotTick: ++mCounts.mNotTicks; break;
    case LineKind::Malformed: ++mCounts.mMalformed; break;
    }
}

void TickFunnel::AddOverlongLine() {
    ++mCounts.mLines;
    ++mCounts.mMalformed;
}

void TickFunnel::AddTick(const TickLine& tick) {
    ++mCounts.mTicks;
    // The log's clock: its latest time, so that requests logged a little out of order do not
    // move it. Where the time goes back by more than the idle time (logs given newest first),
    // the clock goes on from where it was, so that runs keep ending and memory stays bounded.
    int64_t clock = tick.mTimeMs + mClockShiftMs;
    if (clock > mLatestMs) {
        mLatestMs = clock;
        Expire(mLatestMs);
    } else if (clock < mLatestMs - mIdleMs) {
        mTimeWentBack = true;
        mClockShiftMs += mLatestMs - clock;
        clock = mLatestMs;
    }
    Run* run;
    auto found = mRuns.find(tick.mRunId);
    if (found == mRuns.end()) {
        run = new Run;
        run->mId.assign(tick.mRunId);
        mRuns.emplace(std::string_view(run->mId), run);
        Append(mOpen, run);
    } else {
        run = found->second;
        if (run->mFolded) {
            ++mCounts.mLateTicks;
            return;
        }
        Unlink(mOpen, run);
        Append(mOpen, run);
    }

    run->mFirst = std::min(run->mFirst, tick.mTimeMs);
    run->mHeard = std::max(run->mHeard, clock);
    run->mAt[tick.mState] = std::min(run->mAt[tick.mState], tick.mTimeMs);
    if (tick.mProgress >= 0.0f && tick.mTimeMs >= run->mProgressAt) {
        run->mProgress = tick.mProgress;
        run->mProgressAt = tick.mTimeMs;
    }
    // The first tick goes out before the app version is known; later ones name it.
    if (run->mVersion == SIZE_MAX && !tick.mAppVersion.empty()) run->mVersion = VersionIndex(tick.mAppVersion);

    if (tick.mFinal) {
        Fold(*run, false);
        Unlink(mOpen, run);
        run->mFolded = true;
        Append(mFinished, run);
    }
}

void TickFunnel::Finish() {
    while (mOpen.mFirst) {
        Run* run = mOpen.mFirst;
        Fold(*run, true);
        Remove(run);
    }
    while (mFinished.mFirst) Remove(mFinished.mFirst);
}

VersionFigures TickFunnel::Total() const {
    VersionFigures total;
    total.mAppVersion = "all";
    for (const VersionFigures& figures : mVersions) total.Merge(figures);
    return total;
}
