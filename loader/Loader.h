// Vexal3DLoader: the state of one loading run, from launch parameters to a running game module.
#pragma once

#include <atomic>
#include "Vexal3DLoader.h"
#include "Common/Array.h"
#include "Common/Types.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/DeltaFile.h"
#include "Source/Common/PackageSignature.h"
#include "Source/Common/String.h"
#include "Source/Platform/WebDownload.h"
#include "loader/ModuleBinding.h"

// The run modes (the last argument of _VexalCreate) that fetch and check the game's module files
// are 0 up to this one; any other mode loads the local module file as it stands.
constexpr uint32_t kLastFetchingRunMode = 1;

// The delay ("delay" -1) that holds the hand-off until the delay is set again: it is never
// counted down.
constexpr uint32_t kDelayHold = 0xFFFFFFFFu;

// A wait before the next attempt of a step that failed (none while its length is 0).
struct RetryTimer {
    uint32_t mStart = 0;
    uint32_t mLength = 0;

    // Starts the wait that follows round failures in a row (1 s doubling to a minute, jittered).
    void Begin(uint32_t round);
    bool IsSet() const { return mLength != 0; }
    bool HasRunOut() const;
    void Clear() { mLength = 0; }
};

// One window message as the host received it.
struct MessageRecord {
    uint32_t mMessage;
    uint32_t mWParam;
    int32_t mLParam;
};

class SignedModuleDigests;
struct PatchJob;
class ServerDataSearch;
struct ServerDataList;

// The loader object. Abstract: the concrete class adds the loading screen and supplies
// ReleaseLoadingScreen. Lives from _VexalCreate to _VexalDelete on the host's thread; every
// operation runs on that thread. The loader owns its web handles, its download, the loaded game
// module and every string and buffer; the host owns the window.
class Vexal3DLoader {
public:
    // Records the run identity and the client version and routes the log channels. The fields
    // start at their defaults: state 0, header magic 0x0F0A0F0A and version 1, tick interval
    // 10000 ms, header time-out 5000 ms, everything else empty or 0.
    Vexal3DLoader(VexalWindow hostWindow, uint32_t runMode);
    // Stops a running download, destroys the web handles, deletes and unloads the game module and
    // deletes a per-process module copy. The subclass has released its loading screen before.
    virtual ~Vexal3DLoader();

    Vexal3DLoader(const Vexal3DLoader&) = delete;
    Vexal3DLoader& operator=(const Vexal3DLoader&) = delete;

    // Before the hand-off false; afterwards whether the game module's _VobMessage handled it.
    virtual bool Message(const MessageRecord& record);
    // Advances the run by one step; elapsedMs since the previous call. Returns quickly except in
    // the steps that must wait (digests of cached files, unpacking and writing a block, loading
    // and creating the game module): downloads and the package size probe run on workers, and
    // stopping them never waits.
    virtual void Update(uint32_t elapsedMs);
    // Before the hand-off nothing; afterwards the game module's _VobRender.
    virtual void Render();
    // One launch parameter; the name is matched without regard to case, unknown names are
    // ignored. Also called by the loader itself (through this slot) with "serverdata" and with
    // the server chosen from it.
    virtual void Setup(const WideChar* name, const WideChar* value);
    // Takes the loading screen out of the window. Called once at the hand-off and again by the
    // subclass's destructor, so a second call must find nothing left.
    virtual void ReleaseLoadingScreen() = 0;

    // The figures the loading screens read.
    LoaderState GetState() const { return mState; }
    float GetProgress() const { return mProgress; }
    float GetSpeed() const { return mSpeed; }
    int32_t GetResCount() const { return mResCount; }
    int32_t GetFinishCount() const { return mFinishCount; }
    int32_t GetResSize() const { return mResSize; }
    int32_t GetFinishSize() const { return mFinishSize; }
    VexalWindow GetHostWindow() const { return mHostWindow; }

    // The name of a state for log lines ("created", "header", ...); "unknown" outside 0..6.
    static const WideChar* StateName(LoaderState state);

    // Called by the export after each update with the high-resolution ticks the whole update
    // took: keeps the longest update without the steps allowed to block (digests of cached
    // files, unpacking and writing a block, checking and writing a patched file, loading and
    // creating the module), which the loader writes to the trace when it is destroyed.
    void NoteUpdateTime(uint64_t ticks);

protected:
    // --- the run's phases (each in its own source file) ---

    // The only writer of mState: stores it and sends the state tick.
    void EnterState(LoaderState state);

    // Launch parameters.
    void SetPackageUrls(const WideChar* value);
    void AppendModuleParams(const WideChar* value);
    void StartHeaderDownload(const WideChar* url);
    void RestartIfHeaderAccepted();

    // Header step (state 3).
    void HeaderStep();
    // The display of state 3: a tenth of the whole, scaled by the header download's fraction.
    void ShowHeaderProgress(float fraction);
    void ProbeStep();
    void CheckPackageSize(int64_t reportedLength);
    // Every refusal of a header, whatever check refused it, goes through here: the next address,
    // the message with it, and the next attempt, at once or after a wait (RetryHeader).
    void FallBack(const WideChar* message);
    bool HeaderNamesAreSafe();
    // Counts a refusal and starts the next header download, or, once every address has been
    // refused since the last accepted header, a wait before it.
    void RetryHeader();
    // True while such a wait runs; when it has run out, starts the header download.
    bool HeaderRetryWaiting();

    // Module pipeline (state 4).
    bool NextModule();
    void ModuleBlockStep();
    // Writes the checked block of the current entry to its file; on failure keeps it for a
    // later attempt after a wait. True when written.
    bool WriteModuleBlock();
    // A fetched block was refused (not unpacked, a wrong digest, an address that refuses it):
    // counts it, leaves the address after its second failure there, and waits before the next
    // fetch.
    void ModuleBlockFailed();
    // Says once per run when the current directory takes no new file, before a block is fetched.
    void CheckModuleFolder();
    void LoadModule();
    String MakeConfigText();
    void LimitDataFile();

    // Signed packages (only with "voakey"; each in SignatureStep.cpp).
    void SetPublisherKeys(const WideChar* value);
    void KeepHeaderSha256();
    bool StartSignatureCheck();
    void SignatureStep();
    void RefuseSignature(const String& reason);
    void EnterModulePhase();
    // cached (optional) receives the file's digest (all zero when it cannot be read).
    bool SignedFileMatches(uint32_t index, const String& name, const Digest& expected, Digest* cached = _null);
    // With a signature of the current version: false, with its line, when a fetched block
    // declares another unpacked size than entry index's signed size, before anything is unpacked.
    bool BlockSizeMatches(uint32_t index, const Buffer& block);
    // Whether a fetched (unpacked) block holds entry index's file: its digest matches the
    // header's (unless that is all zeros) and, with signatures, its SHA-256 the signed one.
    // A mismatch writes its line.
    bool BlockMatches(uint32_t index, const Buffer& block, const Digest& expected);
    void DropSignedDigests();

    // Patches (DeltaStep.cpp): an outdated module file is rebuilt from a patch of the package's
    // delta file when one leads from its content to the wanted one.
    enum DeltaStage : uint8_t {
        kDeltaUnasked,  // no entry has needed the delta file yet
        kDeltaPreamble, // its first bytes are on their way
        kDeltaRecords,  // the rest of its index is on its way
        kDeltaReady,    // the index is in mDeltaPatches
        kDeltaUnused,   // missing or damaged: blocks for the rest of the run
    };
    // For the current entry, whose file name holds content of digest cached where expected is
    // wanted: starts what the patch needs (the delta file's index, once per run, or the patch)
    // and returns true, or returns false when the block is to be fetched. The file is untouched.
    bool StartPatch(const String& name, const Digest& cached, const Digest& expected);
    // The module step while the delta file's index or a patch is fetched or applied: true when it
    // took the update.
    bool DeltaStep();
    void FinishDeltaDownload();
    void FinishPatch();
    // The current entry's patch has failed: its block is fetched instead.
    void RefusePatch(const WideChar* reason);
    // Forgets the delta file and ends a patch being applied (waiting for it: it is bounded).
    void DropDelta();
    // mFinishSize := the sizes of the entries before the current one.
    void CountFinishedEntries();

    // Module step (state 5).
    void ModuleStep(uint32_t elapsedMs);

    // Server data, ticks and reports.
    void StartServerDataDownload(const WideChar* url);
    void ServerDataStep();
    void ParseServerData(const WideChar* text);
    // Once the worker has converted and searched downloaded server data, hands the text on.
    void ServerDataSearchStep();
    void UseServerDataList(const ServerDataList& found);
    // Ends a search still running (waiting for it: a search is bounded) and forgets its result.
    void DropServerDataSearch();
    void SetTickUrl(const WideChar* value);
    void PeriodicTick(uint32_t elapsedMs);
    void FinalTick();
    void SendPing(const WideChar* url);
    String VersionSuffix() const;

    // Helpers shared by the phases.
    // Starts the one download of the run into target (emptied now, filled when it completes).
    void BeginDownload(const WideChar* url, Buffer* target, uint64_t rangeStart, int64_t rangeEnd);
    // Copies the download's progress into mDownloadProgress and, once it is complete, hands its
    // body to the target given to BeginDownload.
    void PollDownload();
    // Ends the download and the size probe without waiting for either; the progress is 0 after.
    void StopDownload();
    void UnloadModule();
    const WideChar* CurrentPackageUrl() const;
    void RefreshSpeed();

    // Counts the time of a step that may block the host's thread out of the update's figure.
    class BlockingStep {
    public:
        explicit BlockingStep(Vexal3DLoader& loader);
        ~BlockingStep() { End(); }
        // Ends the step before the end of its scope.
        void End();
        BlockingStep(const BlockingStep&) = delete;
        BlockingStep& operator=(const BlockingStep&) = delete;

    private:
        Vexal3DLoader& mLoader;
        uint64_t mStart;
        bool mEnded = false;
    };

    // --- fields, in this order ---
    VexalWindow mHostWindow;
    uint32_t mRunMode;
    WebHandle* mPackageHandle;
    WebHandle* mPingHandle;
    PackageHeader mHeader;
    ModuleBinding mModule;
    LoaderState mState;
    uint32_t mDelay;
    float mProgress;
    float mSpeed;
    int32_t mResCount;
    int32_t mFinishCount;
    int32_t mResSize;
    int32_t mFinishSize;
    uint32_t mTickElapsed;
    uint32_t mTickMark;
    uint32_t mTickInterval;
    Buffer mHeaderBuffer;
    Buffer mServerDataBuffer;
    String mReportUrl;
    String mCdnHost;
    String mModuleParams;
    String mAppVersion;
    String mFlashVersion;
    String mErrorUrl;
    String mTickUrl;
    String mRunId;
    String mClientVersion;
    Buffer mModuleBuffer;
    String mModuleFileName;
    String mModuleCopyPath;
    WebTransfer* mDownload;
    float mDownloadProgress; // the host's thread's copy; 0 once the download is stopped
    Buffer* mDownloadTarget;
    // The resource's whole length as the completed download's Content-Range named it; -1 when
    // it named none or no download has completed since the last start.
    int64_t mDownloadResourceLength;
    WebProbe* mProbe;
    uint64_t mBlockingTicks;
    uint64_t mLongestUpdateTicks;
    uint32_t mModuleIndex;
    uint32_t mHeaderTimeout;
    uint32_t mLastAttemptTime;
    uint32_t mUrlIndex;
    // Header refusals since the last accepted header; a running wait's start and length (ms,
    // 0 when none runs).
    uint32_t mHeaderRefusals;
    RetryTimer mHeaderWait;
    // The current entry's block: waits before its next fetch or write, the addresses left for
    // it, its failed fetches at the current address and failed writes, whether it waits in
    // mModuleBuffer to be written again, and whether the folder's check ran.
    RetryTimer mBlockWait;
    uint32_t mBlockAddressChanges;
    uint32_t mBlockFailuresHere;
    uint32_t mBlockWriteFailures;
    bool mBlockUnwritten;
    bool mModuleFolderChecked;
    Array<String> mPackageUrls;
    Array<String> mCdnIps;
    // Signed packages: set by "voakey"; the keys it gave (none usable: every address refused).
    bool mSignatureWanted;
    bool mSignaturePending;
    Array<Ed25519PublicKey> mPublisherKeys;
    // Set by "voagame": the cache name a signed package must carry; empty: the game first
    // accepted in the cache folder.
    String mExpectedGame;
    Sha256Digest mHeaderSha256;
    Buffer mSignatureBuffer;
    PackageSignature mSignature;
    SignedModuleDigests* mSignedDigests;
    WorkerThread* mReleaseRecorder;
    // The conversion and search of downloaded server data, running on a worker while the loader
    // waits in state 2; and its answer while a later update hands the text on through Setup.
    ServerDataSearch* mServerDataSearch;
    const ServerDataList* mSearchedServerData;
    // Patches: the delta file's stage and index, its preamble as received, the patch being
    // fetched or applied (-1 none), the entry whose patch failed (VEXAL_MODULE_COUNT none), the
    // time the index was asked for, and the patch being applied on a worker.
    DeltaStage mDeltaStage;
    Array<DeltaPatch> mDeltaPatches;
    uint8_t mDeltaPreamble[kDeltaPreambleSize];
    Buffer mDeltaBuffer;
    int32_t mPatchIndex;
    uint32_t mPatchRefused;
    uint32_t mDeltaAskTime;
    PatchJob* mPatchJob;
};
