// The loading funnel: ticks gathered into runs (by run id), and runs folded into per-version
// figures as they end. Memory stays bounded on logs of any length: a run is held only while it
// may still send ticks, and times are counted in fixed histograms.
#pragma once

#include <array>
#include <cstdint>
#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/ticks/TickLine.h"

inline constexpr int kStateCount = 7; // loader states 0 (created) to 6 (handed over)
inline constexpr int kHandedOver = 6;
inline constexpr int64_t kWarmMs = 1000; // module files to module created within this: a warm cache

// Times from 0 to about 48 days in milliseconds: exact below 1024 ms, then in steps of under
// 0.2 % of the value. Buckets are allocated at the first count.
class TimeHistogram {
public:
    void Add(int64_t ms);
    void Merge(const TimeHistogram& other);
    uint64_t Count() const { return mCount; }
    // The value at rank ceil(share * count) (nearest rank), in milliseconds; -1 when empty.
    double Percentile(double share) const;

    static constexpr int kExact = 1024;
    static constexpr int kSteps = 512;
    static constexpr int kBuckets = kExact + 22 * kSteps;

private:
    static int BucketOf(int64_t ms);
    static double ValueOf(int bucket);
    std::vector<uint32_t> mBuckets;
    uint64_t mCount = 0;
};

// What the runs of one app version came to.
struct VersionFigures {
    std::string mAppVersion; // decoded; empty for runs that never sent one
    uint64_t mRuns = 0;
    std::array<uint64_t, kStateCount> mReached{};   // runs that sent a tick with this state
    std::array<uint64_t, kStateCount> mStopped{};   // runs whose furthest state was this one (below 6)
    std::array<TimeHistogram, kStateCount> mTimeTo; // first tick of the run to the state's first tick
    uint64_t mWarm = 0;                             // reached module created within a second of module files
    uint64_t mOpenAtEnd = 0;                        // not handed over, but ticking until near the log's end
    // Last progress of runs that stopped: ten buckets of 10 %, and runs that never sent one.
    std::array<uint64_t, 10> mStoppedProgress{};
    uint64_t mStoppedWithoutProgress = 0;

    void Merge(const VersionFigures& other);
};

struct LineCounts {
    uint64_t mLines = 0;
    uint64_t mTicks = 0;
    uint64_t mNotTicks = 0;
    uint64_t mMalformed = 0;
    uint64_t mLateTicks = 0; // ticks of a run already folded after its final tick
};

class TickFunnel {
public:
    // idleMs: a run that sent nothing for this long (in log time) has stopped.
    explicit TickFunnel(int64_t idleMs = 30 * 60 * 1000);
    ~TickFunnel();
    TickFunnel(const TickFunnel&) = delete;
    TickFunnel& operator=(const TickFunnel&) = delete;

    // One line of a log, in the order of the log.
    void AddLine(std::string_view line);
    // A line too long to be a request of ours, skipped unread.
    void AddOverlongLine();
    void AddTick(const TickLine& tick);
    // Folds the runs still open (end of input). Call once, before reading the figures.
    void Finish();

    const LineCounts& Counts() const { return mCounts; }
    // Per app version in order of first appearance; at most kMaxVersions, the rest under "other".
    const std::vector<VersionFigures>& Versions() const { return mVersions; }
    VersionFigures Total() const;
    // Set when the log's time went back by more than the idle time (files out of order).
    bool TimeWentBack() const { return mTimeWentBack; }

    static constexpr size_t kMaxVersions = 64;
    static constexpr int64_t kFinishedGraceMs = 5 * 60 * 1000;

private:
    struct Run;
    struct RunList {
        Run* mFirst = nullptr;
        Run* mLast = nullptr;
    };
    size_t VersionIndex(std::string_view rawVersion);
    void Fold(Run& run, bool openAtEnd);
    void Expire(int64_t now);
    void Remove(Run* run);
    static void Unlink(RunList& list, Run* run);
    static void Append(RunList& list, Run* run);

    int64_t mIdleMs;
    int64_t mLatestMs = INT64_MIN; // the log's clock
    int64_t mClockShiftMs = 0;     // added to request times after the log's time went back
    LineCounts mCounts;
    std::vector<VersionFigures> mVersions;
    std::unordered_map<std::string, size_t> mVersionIndex;
    std::unordered_map<std::string_view, Run*> mRuns; // keys view each run's own id
    std::string mLastRawVersion;                      // the last version looked up, and its index
    size_t mLastVersionIndex = SIZE_MAX;
    RunList mOpen;     // runs still loading, least recently heard first
    RunList mFinished; // folded runs kept a while so that late ticks are not taken for new runs
    bool mTimeWentBack = false;
};

// Percent-decodes an item value ("1.0%2Bbeta" to "1.0+beta"; '+' to a blank).
std::string DecodeItem(std::string_view value);
