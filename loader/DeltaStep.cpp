// Updates by patch: an outdated module file is rebuilt from a patch of the package's delta file
// ("<package address>.delta") instead of fetching its whole block. The index is asked for once
// per run; anything that goes wrong (no delta file, a damaged index, a patch that is not served,
// does not apply or fails a check) falls back to the block at once, and the cached file is left
// as it is until the patched content has passed the checks a block passes.
#include "loader/Loader.h"

#include <atomic>
#include <cstring>
#include <new>

#include "Source/Common/Digest.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/WorkerThread.h"
#include "loader/LoaderTexts.h"

// A patch applied on a worker: the cached file is read and the new content rebuilt there, so
// that a large file costs the host's thread nothing but the checks and the write.
struct PatchJob {
    String mPath;
    Buffer mPatch;
    uint32_t mNewSize = 0;
    Buffer mResult;
    bool mApplied = false;
    std::atomic<bool> mDone{false};
    WorkerThread* mWorker = _null;
};

namespace {

uint8_t ApplyOnWorker(WorkerThread*, void* data, int32_t) {
    PatchJob* job = static_cast<PatchJob*>(data);
    Buffer reference;
    job->mApplied = ReadFileToBuffer(reference, job->mPath) && reference.GetSize() <= kMaxPatchedFileSize &&
                    ApplyPatch(reference.GetData(), reference.GetSize(), job->mPatch.GetData(), job->mPatch.GetSize(),
                               job->mNewSize, job->mResult);
    job->mDone.store(true, std::memory_order_release);
    return 0;
}

} // namespace

bool Vexal3DLoader::StartPatch(const String& name, const Digest& cached, const Digest& expected) {
    // A file that cannot be read (or is missing) has nothing to patch.
    if (cached.IsZero() || mPatchRefused == mModuleIndex || mDeltaStage == kDeltaUnused)
        return false;
    const String address = AddressBesidePackage(CurrentPackageUrl(), LoaderText::kDeltaExtension);
    StopDownload();
    if (mDeltaStage == kDeltaUnasked) {
        // The fixed preamble first: it says how long the index is.
        mDeltaStage = kDeltaPreamble;
        mDeltaAskTime = TimeMilliseconds();
        BeginDownload(address, &mDeltaBuffer, 0, int64_t(kDeltaPreambleSize));
        return true;
    }
    const int32_t found = FindDeltaPatch(mDeltaPatches, name.Data(), cached, expected);
    if (found < 0)
        return false;
    // Applying holds the old content and the new one at once.
    if (uint64_t(FileSize(name)) > kMaxPatchedFileSize) {
        LogTrace(LoaderText::kPatchNotUsed, int(mModuleIndex), LoaderText::kPatchTooLarge);
        return false;
    }
    const DeltaPatch& patch = mDeltaPatches[found];
    mPatchIndex = found;
    BeginDownload(address, &mDeltaBuffer, patch.offset, int64_t(patch.offset + patch.size));
    LogTrace(LoaderText::kDownloadPatch, int(mModuleIndex), address.Data());
    return true;
}

bool Vexal3DLoader::DeltaStep() {
    if (mPatchJob != _null) {
        if (mPatchJob->mDone.load(std::memory_order_acquire))
            FinishPatch();
        return true;
    }
    const bool asking = mDeltaStage == kDeltaPreamble || mDeltaStage == kDeltaRecords;
    if (!asking && mPatchIndex < 0)
        return false;
    // A delta file or patch is worth no wait: a failed attempt, or an index that has not come
    // within the header's time, means the block.
    const bool failed = mDownload == _null ? mDownloadProgress != 1.0f : GetTransferFailures(mDownload) > 0;
    if (failed || (asking && mDownloadProgress != 1.0f && TimeMilliseconds() - mDeltaAskTime > mHeaderTimeout)) {
        const String address = AddressBesidePackage(CurrentPackageUrl(), LoaderText::kDeltaExtension);
        StopDownload();
        if (asking) {
            mDeltaStage = kDeltaUnused;
            LogTrace(LoaderText::kDeltaNotServed, address.Data());
        } else {
            RefusePatch(LoaderText::kPatchNotServed);
        }
        if (!NextModule())
            LoadModule();
        return true;
    }
    if (mDownloadProgress == 1.0f)
        FinishDeltaDownload();
    return true;
}

void Vexal3DLoader::FinishDeltaDownload() {
    StopDownload();
    const String address = AddressBesidePackage(CurrentPackageUrl(), LoaderText::kDeltaExtension);
    if (mPatchIndex >= 0) {
        const DeltaPatch& patch = mDeltaPatches[mPatchIndex];
        // A ranged answer holds the range's bytes exactly; anything else is not the patch.
        if (mDeltaBuffer.GetSize() != patch.size) {
            RefusePatch(LoaderText::kPatchWrongSize);
        } else {
            PatchJob* job = new (std::nothrow) PatchJob();
            if (job != _null) {
                job->mPath = ModuleFileName(mHeader.modules[mModuleIndex]);
                job->mPatch.Swap(mDeltaBuffer);
                job->mNewSize = patch.newSize;
                job->mWorker = CreateWorker(ApplyOnWorker, job);
                if (job->mWorker != _null) {
                    mPatchJob = job;
                    return;
                }
                delete job;
            }
            RefusePatch(LoaderText::kPatchDoesNotApply);
        }
    } else if (mDeltaStage == kDeltaPreamble) {
        const uint32_t indexSize = DeltaIndexSize(mDeltaBuffer.GetData(), mDeltaBuffer.GetSize());
        if (mDeltaBuffer.GetSize() != kDeltaPreambleSize || indexSize == 0) {
            mDeltaStage = kDeltaUnused;
            LogTrace(LoaderText::kDeltaDamaged, address.Data());
        } else {
            memcpy(mDeltaPreamble, mDeltaBuffer.GetData(), kDeltaPreambleSize);
            mDeltaStage = kDeltaRecords;
            // An index without records needs no second request.
            if (indexSize > kDeltaPreambleSize) {
                BeginDownload(address, &mDeltaBuffer, kDeltaPreambleSize, int64_t(indexSize));
                return;
            }
            mDeltaBuffer.Clear();
        }
    }
    if (mDeltaStage == kDeltaRecords) {
        // The records arrived without the preamble, which their digest and count live in.
        Buffer index;
        const uint32_t records = mDeltaBuffer.GetSize();
        bool read = index.Allocate(kDeltaPreambleSize + records);
        if (read) {
            memcpy(index.GetData(), mDeltaPreamble, kDeltaPreambleSize);
            if (records > 0)
                memcpy(index.GetData() + kDeltaPreambleSize, mDeltaBuffer.GetData(), records);
            read = index.GetSize() == DeltaIndexSize(index.GetData(), index.GetSize()) &&
                   ReadDeltaIndex(index.GetData(), index.GetSize(), mDeltaPatches);
        }
        mDeltaStage = read ? kDeltaReady : kDeltaUnused;
        if (!read)
            LogTrace(LoaderText::kDeltaDamaged, address.Data());
    }
    mDeltaBuffer.Clear();
    if (!NextModule())
        LoadModule();
}

void Vexal3DLoader::FinishPatch() {
    PatchJob* job = mPatchJob;
    mPatchJob = _null;
    DestroyWorker(job->mWorker);
    BlockingStep blocking(*this);
    const ModuleEntry& entry = mHeader.modules[mModuleIndex];
    const uint32_t patchSize = job->mPatch.GetSize();
    if (!job->mApplied) {
        RefusePatch(LoaderText::kPatchDoesNotApply);
    } else if (!BlockMatches(mModuleIndex, job->mResult, DigestFromWords(entry.digest))) {
        RefusePatch(LoaderText::kPatchChecksum);
    } else if (!WriteBufferToFile(job->mResult.GetData(), ModuleFileName(entry), job->mResult.GetSize())) {
        RefusePatch(LoaderText::kPatchNotWritten);
    } else {
        LogTrace(LoaderText::kPatched, int(mModuleIndex), patchSize, entry.size);
        mPatchIndex = -1;
        ++mModuleIndex;
    }
    delete job;
    CountFinishedEntries();
    blocking.End();
    if (!NextModule())
        LoadModule();
}

void Vexal3DLoader::RefusePatch(const WideChar* reason) {
    LogTrace(LoaderText::kPatchNotUsed, int(mModuleIndex), reason);
    mPatchRefused = mModuleIndex;
    mPatchIndex = -1;
    mDeltaBuffer.Clear();
}

void Vexal3DLoader::DropDelta() {
    if (mPatchJob != _null) {
        DestroyWorker(mPatchJob->mWorker);
        delete mPatchJob;
        mPatchJob = _null;
    }
    mDeltaStage = kDeltaUnasked;
    mDeltaPatches.Clear();
    mDeltaBuffer.Clear();
    mPatchIndex = -1;
    mPatchRefused = VEXAL_MODULE_COUNT;
}
