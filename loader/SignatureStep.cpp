// Signed packages: with "voakey", a header that passed its checks is held in state 3 until the
// publisher's signature file beside it is fetched and judged, and every module file must then
// match both the header's digest and its signed SHA-256. Without "voakey" nothing here runs.
#include "loader/Loader.h"

#include <atomic>
#include <ctime>
#include <new>

#include "Source/Common/Base64.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/Digest.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/WorkerThread.h"
#include "loader/LoaderTexts.h"
#include "Source/Common/PackageFormat.h"

// Both digests of every module file already on disk, taken by this thread and a helper from one
// shared list, largest file first. One file's two digests come from one read; spreading whole
// files over two threads in that order keeps both cores busy to the end, which pays for the
// SHA-256 beside the engine's digest. The helper goes on while blocks are fetched, so results
// stay valid until the object is dropped: only the loader changes these files, and it writes a
// file only after its result was taken.
class SignedModuleDigests {
public:
    explicit SignedModuleDigests(const PackageHeader& header) {
        for (uint32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
            const ModuleEntry& entry = header.modules[i];
            if (!ModuleHasFile(entry))
                continue;
            mNames[i] = ModuleFileName(entry);
            const int64_t size = FileSize(mNames[i]);
            int32_t at = mJobCount++;
            while (at > 0 && mSizes[at - 1] < size) {
                mJobs[at] = mJobs[at - 1];
                mSizes[at] = mSizes[at - 1];
                --at;
            }
            mJobs[at] = i;
            mSizes[at] = size;
        }
        mHelper = CreateWorker(Help, this);
    }

    ~SignedModuleDigests() {
        mStop.store(true, std::memory_order_relaxed);
        DestroyWorker(mHelper);
    }

    SignedModuleDigests(const SignedModuleDigests&) = delete;
    SignedModuleDigests& operator=(const SignedModuleDigests&) = delete;

    // Both digests of entry index's file; false when it could not be read.
    bool Of(uint32_t index, Digest& digest, Sha256Digest& sha256) {
        Result& result = mResults[index];
        while (!result.mDone.load(std::memory_order_acquire)) {
            if (TakeJob())
                continue;
            // Every file is taken and this one is still the helper's: its last job ends it.
            if (mHelper == _null)
                break;
            DestroyWorker(mHelper);
            mHelper = _null;
        }
        if (!result.mDone.load(std::memory_order_acquire))
            result.mRead = FileDigests(mNames[index], result.mDigest, result.mSha256);
        digest = result.mDigest;
        sha256 = result.mSha256;
        return result.mRead;
    }

private:
    struct Result {
        Digest mDigest = {0, 0, 0, 0};
        Sha256Digest mSha256 = {};
        bool mRead = false;
        std::atomic<bool> mDone{false};
    };

    static uint8_t Help(WorkerThread*, void* data, int32_t) {
        SignedModuleDigests* self = static_cast<SignedModuleDigests*>(data);
        while (!self->mStop.load(std::memory_order_relaxed) && self->TakeJob()) {
        }
        return 0;
    }

    // Digests the next file nobody has taken; false when none is left.
    bool TakeJob() {
        const int32_t job = mNext.fetch_add(1, std::memory_order_relaxed);
        if (job >= mJobCount)
            return false;
        Result& result = mResults[mJobs[job]];
        result.mRead = FileDigests(mNames[mJobs[job]], result.mDigest, result.mSha256, &mStop);
        result.mDone.store(true, std::memory_order_release);
        return true;
    }

    String mNames[VEXAL_MODULE_COUNT];
    uint32_t mJobs[VEXAL_MODULE_COUNT] = {};
    int64_t mSizes[VEXAL_MODULE_COUNT] = {};
    int32_t mJobCount = 0;
    std::atomic<int32_t> mNext{0};
    std::atomic<bool> mStop{false};
    Result mResults[VEXAL_MODULE_COUNT];
    WorkerThread* mHelper = _null;
};

namespace {

// The accepted release, and the game when the cache folder has none yet, stored on a worker:
// storing them waits for the disk.
struct ReleaseRecord {
    String mPath;
    uint32_t mRelease; // 0: the release needs no storing
    String mGamePath;  // empty: the game needs no storing
    String mGame;
};

uint8_t RecordRelease(WorkerThread*, void* data, int32_t) {
    ReleaseRecord* record = static_cast<ReleaseRecord*>(data);
    if (record->mRelease != 0 && !RecordAcceptedRelease(record->mPath, record->mRelease))
        LogTrace(LoaderText::kReleaseNotRecorded, record->mRelease, record->mPath.Data());
    if (!record->mGamePath.IsEmpty() && !RecordGame(record->mGamePath, record->mGame))
        LogTrace(LoaderText::kGameNotRecorded, record->mGame.Data(), record->mGamePath.Data());
    delete record;
    return 0;
}

// A block's SHA-256, taken on a worker while the host's thread takes the engine's digest.
struct BlockSha256 {
    const uint8_t* mData;
    size_t mSize;
    Sha256Digest mDigest;
    bool mOk;
    std::atomic<bool> mDone;
};

uint8_t ComputeBlockSha256(WorkerThread*, void* data, int32_t) {
    BlockSha256* job = static_cast<BlockSha256*>(data);
    job->mOk = ComputeSha256(job->mData, job->mSize, job->mDigest);
    job->mDone.store(true, std::memory_order_release);
    return 0;
}

} // namespace

void Vexal3DLoader::SetPublisherKeys(const WideChar* value) {
    mSignatureWanted = true;
    mPublisherKeys.Clear();
    // Verification once asked for is never skipped: without a usable key nothing is accepted.
    if (ReadPublisherKeys(value, mPublisherKeys) == 0)
        LogTrace(LoaderText::kNoUsableKey);
    // A header accepted before the keys came, or one whose size probe still runs, is judged
    // again from the first address: its bytes were not kept for a signature.
    if ((mState >= LoaderStateModules || mProbe != _null) && mPackageUrls.GetCount() > 0) {
        RestartIfHeaderAccepted();
        StopDownload();
        mUrlIndex = 0;
        mLastAttemptTime = TimeMilliseconds();
        StartHeaderDownload(CurrentPackageUrl());
        EnterState(LoaderStateHeader);
    }
}

void Vexal3DLoader::KeepHeaderSha256() {
    if (mSignatureWanted)
        ComputeSha256(mHeaderBuffer.GetData(), mHeaderBuffer.GetSize(), mHeaderSha256);
}

bool Vexal3DLoader::StartSignatureCheck() {
    if (!mSignatureWanted)
        return false;
    if (mPublisherKeys.GetCount() == 0) {
        RefuseSignature(SignatureReasonText(SignatureCheck{kSignatureUnknownKey, 0, 0, -1}));
        return true;
    }
    // Same handle as the package, so a CDN address carries its Host header here too. One byte
    // past the limit is enough to tell a file that is too large; the rest is never received.
    BeginDownload(SignatureAddress(CurrentPackageUrl()), &mSignatureBuffer, 0, int64_t(kSignatureFileLimit) + 1);
    mSignaturePending = true;
    mLastAttemptTime = TimeMilliseconds();
    return true;
}

void Vexal3DLoader::SignatureStep() {
    // The header has arrived: the display stays at its end until the signature is judged.
    ShowHeaderProgress(1.0f);
    if (mDownloadProgress != 1.0f) {
        // The whole file must come within the header's time; a server that never answers, or
        // answers with an error, leaves it missing.
        if (TimeMilliseconds() - mLastAttemptTime > mHeaderTimeout)
            RefuseSignature(SignatureReasonText(SignatureCheck{kSignatureMissing, 0, 0, -1}));
        return;
    }
    StopDownload();

    // The release record lives in a folder named by the cache name: a name that cannot be one
    // folder would leave rollbacks unchecked, so such a package is not taken at all.
    if (!IsSafeCacheName(mHeader.cacheName)) {
        mSignatureBuffer.Clear();
        RefuseSignature(SignatureReasonText(SignatureCheck{kSignatureCacheNotUsable, 0, 0, -1}));
        return;
    }
    const String profile = UserProfileFolder();
    const String releasePath = AcceptedReleasePath(profile, mHeader.cacheName);
    const uint32_t highest = releasePath.IsEmpty() ? 0 : ReadAcceptedRelease(releasePath);
    SignatureCheck check =
        JudgePackageSignature(mSignatureBuffer.GetData(), mSignatureBuffer.GetSize(), mPublisherKeys, mHeader,
                              mHeaderSha256, int64_t(std::time(_null)), highest, mSignature);
    mSignatureBuffer.Clear();
    // Another game of the same publisher carries a valid signature too, and its own release
    // record: the game is pinned by "voagame", or else by the first one accepted in this folder.
    String gamePath;
    if (check.mVerdict == kSignatureAccepted) {
        WideChar game[VEXAL_HEADER_TEXT_UNITS] = {0};
        bool pinned = !mExpectedGame.IsEmpty();
        if (!pinned) {
            gamePath = GameRecordPath(CurrentDirectory());
            pinned = !gamePath.IsEmpty() && ReadGameRecord(gamePath, game);
            if (pinned)
                gamePath = String();
        }
        if (pinned && String(mSignature.mCache) != (mExpectedGame.IsEmpty() ? String(game) : mExpectedGame))
            check.mVerdict = kSignatureOtherGame;
    }
    if (check.mVerdict != kSignatureAccepted) {
        RefuseSignature(SignatureReasonText(check));
        return;
    }

    char keyText[Base64Length(kEd25519KeySize) + 1];
    Base64Encode(mPublisherKeys[check.mKeyIndex].bytes, kEd25519KeySize, keyText);
    LogTrace(LoaderText::kSignatureAccepted, check.mRelease, int(check.mKeyIndex + 1), keyText);
    const uint32_t release = !releasePath.IsEmpty() && check.mRelease > highest ? check.mRelease : 0;
    if (release != 0 || !gamePath.IsEmpty()) {
        ReleaseWorker(mReleaseRecorder);
        ReleaseRecord* record =
            new (std::nothrow) ReleaseRecord{releasePath, release, gamePath, String(mSignature.mCache)};
        mReleaseRecorder = record != _null ? CreateWorker(RecordRelease, record) : _null;
        if (mReleaseRecorder == _null) {
            if (release != 0)
                LogTrace(LoaderText::kReleaseNotRecorded, release, releasePath.Data());
            if (!gamePath.IsEmpty())
                LogTrace(LoaderText::kGameNotRecorded, mSignature.mCache, gamePath.Data());
            delete record;
        }
    }
    DropSignedDigests();
    EnterModulePhase();
}

void Vexal3DLoader::RefuseSignature(const String& reason) {
    mUrlIndex = (mUrlIndex + 1) % uint32_t(mPackageUrls.GetCount());
    LogTrace(LoaderText::kSignatureRefused, reason.Data(), CurrentPackageUrl());
    StopDownload();
    // The clock timed the signature download: the next address has its own time. A refused
    // signature is a refused header otherwise, with the same waits once every address refused.
    mLastAttemptTime = TimeMilliseconds();
    RetryHeader();
}

bool Vexal3DLoader::SignedFileMatches(uint32_t index, const String& name, const Digest& expected, Digest* cached) {
    if (mSignedDigests == _null)
        mSignedDigests = new (std::nothrow) SignedModuleDigests(mHeader);
    Digest digest;
    Sha256Digest sha256;
    const bool read = mSignedDigests != _null ? mSignedDigests->Of(index, digest, sha256)
                                              : FileDigests(name, digest, sha256);
    if (cached != _null)
        *cached = read ? digest : Digest{0, 0, 0, 0};
    // An all-zero header digest says nothing about the file; its signed SHA-256 still does.
    return read && (expected.IsZero() || digest == expected) && sha256 == mSignature.mModules[index];
}

bool Vexal3DLoader::BlockMatches(uint32_t index, const Buffer& block, const Digest& expected) {
    // With signatures, the block's SHA-256 is taken on a second thread beside the digest.
    BlockSha256 job{block.GetData(), block.GetSize(), {}, false, {false}};
    WorkerThread* worker = mSignatureWanted ? CreateWorker(ComputeBlockSha256, &job) : _null;
    const Digest actual = ComputeDigest(block.GetData(), block.GetSize());
    if (mSignatureWanted) {
        DestroyWorker(worker);
        if (!job.mDone.load(std::memory_order_acquire))
            ComputeBlockSha256(_null, &job, 0);
    }

    if (!expected.IsZero() && actual != expected) {
        LogTrace(LoaderText::kChecksum, int(index), DigestToText(actual).Data(), DigestToText(expected).Data());
        return false;
    }
    if (mSignatureWanted && (!job.mOk || job.mDigest != mSignature.mModules[index])) {
        LogTrace(LoaderText::kSignedChecksum, int(index));
        return false;
    }
    return true;
}

bool Vexal3DLoader::BlockSizeMatches(uint32_t index, const Buffer& block) {
    if (!mSignatureWanted || mSignature.mVersion < 2)
        return true;
    // A packed block says what it unpacks to; any other block is the file itself.
    uint32_t declared = block.GetSize();
    PackedBlockSize(block.GetData(), block.GetSize(), declared);
    if (declared == mSignature.mModuleSizes[index])
        return true;
    LogTrace(LoaderText::kSignedSize, int(index), declared, mSignature.mModuleSizes[index]);
    return false;
}

void Vexal3DLoader::DropSignedDigests() {
    delete mSignedDigests;
    mSignedDigests = _null;
}
