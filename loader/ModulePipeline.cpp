// The module pipeline: make every module file of the header present and intact in the current
// directory, block by block, then load and create the game module.
#include "loader/Loader.h"

#include <atomic>

#include "Source/Common/Decompress.h"
#include "Source/Common/Digest.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/Process.h"
#include "Source/Platform/WorkerThread.h"
#include "loader/LoaderTexts.h"

namespace {

// The per-process name of a module file that could not be replaced: game.so becomes
// game-1234.so. Cut to what the header's name field holds, so that the name written, the name
// loaded and the name in the header stay one.
String PerProcessName(const String& name) {
    const String base = PathWithoutExtension(name);
    const String extension = PathExtension(name);
    const uint32_t process = CurrentProcessId();
    String copy = extension.IsEmpty()
                      ? Format(LoaderText::kCopyNameNoExtension, base.Data(), int(process))
                      : Format(LoaderText::kCopyName, base.Data(), int(process), extension.Data());
    if (copy.GetLength() > VEXAL_HEADER_TEXT_UNITS - 1)
        copy = copy.Mid(0, VEXAL_HEADER_TEXT_UNITS - 1);
    return copy;
}

// Failed fetches of one block at one address before the next address is asked for it.
constexpr uint32_t kBlockFailuresPerAddress = 2;

String PathInCurrentDirectory(const String& name) {
    String path = CurrentDirectory();
    // Without a current directory the name still has to stay relative (and carry a "/", so that
    // the library loader does not search its own paths).
    if (path.IsEmpty())
        path = u".";
    path.Append(u"/");
    path.Append(name);
    return SystemPath(path);
}

// The check of the module files already on disk: each file's digest is taken in the same order
// and in the same update as before, but two at a time, the next file's on a helper thread beside
// the current one's, so a warm start takes about half as long on two cores. A digest that is no
// longer wanted (the current file was missing or damaged) is stopped within one read.
class ModuleDigests {
public:
    explicit ModuleDigests(const PackageHeader& header) : mHeader(header) {}
    ModuleDigests(const ModuleDigests&) = delete;
    ModuleDigests& operator=(const ModuleDigests&) = delete;
    ~ModuleDigests() { Cancel(); }

    // The digest of the file name of entry index. Unless the helper is already taking it, the
    // helper starts on the next entry with a file to check while this thread digests this one.
    Digest Of(uint32_t index, const String& name) {
        if (mHelper != _null && mIndex == index) {
            DestroyWorker(mHelper);
            mHelper = _null;
            return mDone.load(std::memory_order_acquire) ? mDigest : DigestOfFile(name);
        }
        Cancel();
        StartAfter(index);
        return DigestOfFile(name);
    }

    // Stops the helper's digest and waits for its thread.
    void Cancel() {
        if (mHelper == _null)
            return;
        mStop.store(true, std::memory_order_relaxed);
        DestroyWorker(mHelper);
        mHelper = _null;
    }

private:
    static uint8_t Compute(WorkerThread*, void* data, int32_t) {
        ModuleDigests* self = static_cast<ModuleDigests*>(data);
        self->mDigest = DigestOfFile(self->mName, &self->mStop);
        self->mDone.store(!self->mStop.load(std::memory_order_relaxed), std::memory_order_release);
        return 0;
    }

    void StartAfter(uint32_t index) {
        for (uint32_t next = index + 1; next < VEXAL_MODULE_COUNT; ++next) {
            const ModuleEntry& entry = mHeader.modules[next];
            if (!ModuleHasFile(entry) || DigestFromWords(entry.digest).IsZero())
                continue;
            mIndex = next;
            mName = ModuleFileName(entry);
            mDone.store(false, std::memory_order_relaxed);
            mStop.store(false, std::memory_order_relaxed);
            mHelper = CreateWorker(Compute, this);
            return;
        }
    }

    const PackageHeader& mHeader;
    WorkerThread* mHelper = _null;
    uint32_t mIndex = 0;
    String mName;
    Digest mDigest = {0, 0, 0, 0};
    std::atomic<bool> mDone{false};
    std::atomic<bool> mStop{false};
};

} // namespace

bool Vexal3DLoader::NextModule() {
    // The files already on disk are digested here, and a wrong one deleted.
    BlockingStep blocking(*this);
    ModuleDigests digests(mHeader);
    while (mModuleIndex < VEXAL_MODULE_COUNT) {
        ModuleEntry& entry = mHeader.modules[mModuleIndex];
        if (!ModuleHasFile(entry)) {
            ++mModuleIndex;
            continue;
        }
        const String name = ModuleFileName(entry);
        if (mModuleFileName.IsEmpty())
            mModuleFileName = name;
        // An all-zero digest stands for "no digest": such an entry is taken as present. Comparing
        // it with an existing file would delete that file and fetch a block whose digest can
        // never match, again and again. A signed package still holds it to its SHA-256.
        const Digest expected = DigestFromWords(entry.digest);
        Digest cached = {0, 0, 0, 0};
        bool intact = expected.IsZero() && !mSignatureWanted;
        if (mSignatureWanted)
            intact = SignedFileMatches(mModuleIndex, name, expected, &cached);
        else if (!intact)
            intact = (cached = digests.Of(mModuleIndex, name)) == expected;
        if (intact) {
            ++mModuleIndex;
            continue;
        }

        // The helper may be reading a later file: it is stopped before this one is replaced.
        digests.Cancel();
        const PathKind kind = PathKindOf(name);
        if (kind == kPathFolder || kind == kPathOther)
            LogTrace(LoaderText::kNotRegularFile, int(mModuleIndex), name.Data());
        // An outdated file may be patched instead; it stays as it is until the patched content
        // has passed the checks a block passes.
        if (StartPatch(name, cached, expected))
            return true;
        ClearFileAttributes(name);
        DeleteFile(name);
        // Whatever is still there (a file held open elsewhere, a folder, anything that cannot be
        // deleted) is left alone: the block is written under the per-process name, or it would be
        // fetched again for ever.
        if (PathKindOf(name) != kPathMissing) {
            const String copy = PerProcessName(name);
            if (mModuleFileName == name) {
                mModuleFileName = copy;
                mModuleCopyPath = PathInCurrentDirectory(copy);
            }
            for (int32_t i = 0; i < VEXAL_HEADER_TEXT_UNITS; ++i)
                entry.fileName[i] = i < copy.GetLength() ? copy[i] : 0;
        }

        CheckModuleFolder();
        blocking.End();
        mModuleBuffer.Clear();
        StopDownload();
        if (entry.size == 0) {
            // An empty block: a range of no bytes cannot be asked for (the request would fetch
            // the whole package), and no fetch can change what it holds. It counts as received
            // at once when its digest is that of no content; otherwise the package cannot be
            // completed, and this entry is not tried again.
            if (!BlockMatches(mModuleIndex, mModuleBuffer, expected))
                return true;
            mDownloadProgress = 1.0f;
            return true;
        }
        // Offsets and sizes are unsigned 32-bit: the range's end may pass 2^31 (and 2^32).
        BeginDownload(CurrentPackageUrl(), &mModuleBuffer, uint64_t(entry.offset),
                      int64_t(uint64_t(entry.offset) + uint64_t(entry.size)));
        LogTrace(LoaderText::kDownloadModule, int(mModuleIndex), CurrentPackageUrl());
        return true;
    }
    DropSignedDigests();
    return false;
}

void Vexal3DLoader::CountFinishedEntries() {
    uint32_t before = 0;
    for (uint32_t i = 0; i < mModuleIndex && i < VEXAL_MODULE_COUNT; ++i)
        before += mHeader.modules[i].size;
    mFinishSize = int32_t(before);
}

void Vexal3DLoader::ModuleBlockStep() {
    // The delta file's index moves no display; a patch moves it as its block would, and a patch
    // being applied shows its entry done.
    float fraction = mDownloadProgress;
    if (mDeltaStage == kDeltaPreamble || mDeltaStage == kDeltaRecords)
        fraction = 0.0f;
    else if (mPatchJob != _null)
        fraction = 1.0f;
    uint32_t done = uint32_t(mFinishSize);
    if (mModuleIndex < VEXAL_MODULE_COUNT)
        done += uint32_t(double(mHeader.modules[mModuleIndex].size) * double(fraction));
    // Every entry of size 0: nothing to weigh, the phase shows its end.
    if (mResSize == 0)
        mProgress = 0.4f;
    else
        mProgress = float(double(done) / double(uint32_t(mResSize)) * double(0.3f) + double(0.1f));
    mResCount = 1;
    mFinishCount = 0;
    // The delta file's index and a patch have steps of their own, and fail over to the block.
    if (DeltaStep())
        return;
    if (mBlockWait.IsSet()) {
        if (!mBlockWait.HasRunOut())
            return;
        mBlockWait.Clear();
        // A checked block kept in memory is written again; a refused one is fetched again.
        if (mBlockUnwritten && !WriteModuleBlock())
            return;
        if (!NextModule())
            LoadModule();
        return;
    }
    if (IsTransferRefused(mDownload)) {
        LogTrace(LoaderText::kBlockRefused, int(mModuleIndex), CurrentPackageUrl());
        StopDownload();
        ModuleBlockFailed();
        return;
    }
    if (fraction != 1.0f)
        return;

    CountFinishedEntries();
    StopDownload();

    if (mModuleIndex < VEXAL_MODULE_COUNT) {
        BlockingStep blocking(*this);
        // A signed size is held to before unpacking, so that no block makes the loader allocate
        // what it merely declares; such a block fails like one with a wrong digest.
        const bool sized = BlockSizeMatches(mModuleIndex, mModuleBuffer);
        const bool unpacked = sized && UnpackBuffer(mModuleBuffer);
        if (sized && !unpacked)
            LogTrace(LoaderText::kDecompressFailed, int(mModuleIndex));
        const bool good =
            unpacked && BlockMatches(mModuleIndex, mModuleBuffer, DigestFromWords(mHeader.modules[mModuleIndex].digest));
        if (!good) {
            mModuleBuffer.Clear();
            blocking.End();
            ModuleBlockFailed();
            return;
        }
        blocking.End();
        if (!WriteModuleBlock())
            return;
    }
    {
        BlockingStep blocking(*this);
        mModuleBuffer.Clear();
    }
    if (!NextModule())
        LoadModule();
}

bool Vexal3DLoader::WriteModuleBlock() {
    BlockingStep blocking(*this);
    const String name = ModuleFileName(mHeader.modules[mModuleIndex]);
    String failure;
    if (WriteBufferToFile(mModuleBuffer.GetData(), name, mModuleBuffer.GetSize(), &failure)) {
        ++mModuleIndex;
        mModuleBuffer.Clear();
        mBlockUnwritten = false;
        mBlockAddressChanges = 0;
        mBlockFailuresHere = 0;
        mBlockWriteFailures = 0;
        return true;
    }
    // What was written of it is no file of the package, and the room it takes on a full disk may
    // be what the next attempt needs. The name is the run's own: a file of that name that could
    // not be deleted was given the per-process name before the block was fetched.
    DeleteFile(name);
    // The block stays checked in memory: the disk, not the server, has to change.
    mBlockUnwritten = true;
    mBlockWait.Begin(mBlockWriteFailures);
    if (mBlockWriteFailures < 0xFFFFFFFFu)
        ++mBlockWriteFailures;
    LogTrace(LoaderText::kCreateFileFailed, int(mModuleIndex), name.Data());
    LogTrace(LoaderText::kWriteRetry, int(mModuleIndex), failure.Data(), mBlockWait.mLength);
    return false;
}

void Vexal3DLoader::ModuleBlockFailed() {
    // The wait grows with each failure at this address and with each pass over all of them, so
    // a good mirror listed after a bad one is reached within seconds while a block that no
    // address serves is asked for ever more rarely.
    const uint32_t count = mPackageUrls.GetCount() > 0 ? uint32_t(mPackageUrls.GetCount()) : 1;
    const uint64_t round = mBlockFailuresHere + uint64_t(kBlockFailuresPerAddress) * (mBlockAddressChanges / count);
    mBlockWait.Begin(round < 64 ? uint32_t(round) : 64);
    // Two failures of the block at one address: a mirror that serves a wrong block (or none) is
    // left for the next one, as a refused header is.
    if (++mBlockFailuresHere >= kBlockFailuresPerAddress) {
        mBlockFailuresHere = 0;
        if (mBlockAddressChanges < 0xFFFFFFFFu)
            ++mBlockAddressChanges;
        mUrlIndex = (mUrlIndex + 1) % count;
    }
    LogTrace(LoaderText::kBlockRetryWait, int(mModuleIndex), mBlockWait.mLength, CurrentPackageUrl());
}

void Vexal3DLoader::CheckModuleFolder() {
    if (mModuleFolderChecked)
        return;
    mModuleFolderChecked = true;
    String folder = CurrentDirectory();
    if (folder.IsEmpty())
        folder = u".";
    String failure;
    if (!FolderTakesFiles(folder, &failure))
        LogTrace(LoaderText::kFolderTakesNoFile, failure.Data(), folder.Data());
}

void Vexal3DLoader::LoadModule() {
    StopDownload();
    if (mPackageHandle != _null) {
        DestroyWebHandle(mPackageHandle);
        mPackageHandle = _null;
    }
    if (mModule.mLibrary != _null)
        UnloadModule();

    BlockingStep blocking(*this);
    const String path = PathInCurrentDirectory(mModuleFileName);
    String reason;
    if (!BindModule(mModule, path, &reason)) {
        LogTrace(LoaderText::kLoadFailed, path.Data());
        if (!reason.IsEmpty())
            LogTrace(LoaderText::kLoadFailedReason, reason.Data());
        return;
    }
    mModuleParams.TrimRightChar(u'|', true);
    const String configText = MakeConfigText();
    LimitDataFile();

    const String packageUrl = CurrentPackageUrl();
    if (mModule.mCreate(mHostWindow, &mHeader, packageUrl, configText, 0) == 0) {
        LogTrace(LoaderText::kCreateFailed, packageUrl.Data(), configText.Data());
        return;
    }
    if (!mErrorUrl.IsEmpty() && mModule.mConfig != _null)
        mModule.mConfig(LoaderText::kConfigErrorUrl, mErrorUrl);
    EnterState(LoaderStateModuleCreated);
}

// "params|tickurl|T&sg=4[&av=A]|tickinterval|N" and "|cdnhost|H": put together piece by piece
// rather than through the formatter, whose output is limited, so long parameters reach the
// module whole.
String Vexal3DLoader::MakeConfigText() {
    String text = mModuleParams;
    if (!mTickUrl.IsEmpty() && mModuleParams.Find(LoaderText::kConfigTickName, true) < 0) {
        text.Append(LoaderText::kConfigTickUrl);
        text.Append(mTickUrl);
        text.Append(Format(LoaderText::kConfigTickState, int(mState)));
        text.Append(VersionSuffix());
        text.Append(Format(LoaderText::kConfigTickInterval, int32_t(mTickInterval)));
    }
    if (!mCdnHost.IsEmpty()) {
        text.Append(LoaderText::kConfigCdnHost);
        text.Append(mCdnHost);
    }
    return text;
}

void Vexal3DLoader::LimitDataFile() {
    // The cache name comes from the network: only a plain single name may build the path of a
    // file that is deleted. Without a profile folder the path would not be the user's at all.
    const String cacheName(mHeader.cacheName);
    if (!IsSafeCacheName(cacheName))
        return;
    const String profile = UserProfileFolder();
    if (profile.IsEmpty())
        return;
    const String path =
        SystemPath(Format(LoaderText::kDataFilePath, profile.Data(), cacheName.Data(), cacheName.Data()));
    if (FileSize(path) > int64_t(2147483648LL)) {
        LogTrace(LoaderText::kDataFileTooLarge, path.Data());
        ClearFileAttributes(path);
        DeleteFile(path);
    }
}
