// The loader object's life: construction with the run identity, destruction in order, the
// relays after the hand-off and the helpers the phases share.
#include "loader/Loader.h"

#include <cstring>
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/BuildStamp.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/MachineIdentity.h"
#include "Source/Platform/WorkerThread.h"
#include "loader/LoaderTexts.h"

Vexal3DLoader::Vexal3DLoader(VexalWindow hostWindow, uint32_t runMode)
    : mHostWindow(hostWindow),
      mRunMode(runMode),
      mPackageHandle(_null),
      mPingHandle(_null),
      mHeader(),
      mModule(),
      mState(LoaderStateCreated),
      mDelay(0),
      mProgress(0.0f),
      mSpeed(0.0f),
      mResCount(0),
      mFinishCount(0),
      mResSize(0),
      mFinishSize(0),
      mTickElapsed(0),
      mTickMark(0),
      mTickInterval(10000),
      mDownload(_null),
      mDownloadProgress(0.0f),
      mDownloadTarget(_null),
      mDownloadResourceLength(-1),
      mProbe(_null),
      mBlockingTicks(0),
      mLongestUpdateTicks(0),
      mModuleIndex(0),
      mHeaderTimeout(5000),
      mLastAttemptTime(0),
      mUrlIndex(0),
      mHeaderRefusals(0),
      mHeaderWait(),
      mBlockWait(),
      mBlockAddressChanges(0),
      mBlockFailuresHere(0),
      mBlockWriteFailures(0),
      mBlockUnwritten(false),
      mModuleFolderChecked(false),
      mSignatureWanted(false),
      mSignaturePending(false),
      mHeaderSha256(),
      mSignature(),
      mSignedDigests(_null),
      mReleaseRecorder(_null),
      mServerDataSearch(_null),
      mSearchedServerData(_null),
      mDeltaStage(kDeltaUnasked),
      mDeltaPreamble(),
      mPatchIndex(-1),
      mPatchRefused(VEXAL_MODULE_COUNT),
      mDeltaAskTime(0),
      mPatchJob(_null) {
    std::memset(&mHeader, 0, sizeof(mHeader));
    mHeader.magic = VEXAL_PACKAGE_MAGIC;
    mHeader.version = 1;
    std::memset(&mModule, 0, sizeof(mModule));

    const LocalTimeValue now = LocalTime();
    const String machine = MachineAddressText();
    mRunId = Format(LoaderText::kRunId, machine.Data(), int(now.mYear), int(now.mMonth),
                    int(now.mDay), int(now.mHour), int(now.mMinute), int(now.mSecond));
    mClientVersion = BuildTimeText();
    mClientVersion.ReplaceChar(u' ', u'_', true);

    SetupLogChannels();
}

Vexal3DLoader::~Vexal3DLoader() {
    LogTrace(LoaderText::kLongestUpdate, CounterToMilliseconds(mLongestUpdateTicks));
    StopDownload();
    DropDelta();
    DropServerDataSearch();
    DropSignedDigests();
    // A release still being stored finishes on its own thread (joined when the library unloads).
    ReleaseWorker(mReleaseRecorder);
    if (mPingHandle != _null) {
        DestroyWebHandle(mPingHandle);
        mPingHandle = _null;
    }
    if (mPackageHandle != _null) {
        DestroyWebHandle(mPackageHandle);
        mPackageHandle = _null;
    }
    UnloadModule();
    if (!mModuleCopyPath.IsEmpty()) {
        ClearFileAttributes(mModuleCopyPath);
        DeleteFile(mModuleCopyPath);
    }
}

bool Vexal3DLoader::Message(const MessageRecord& record) {
    if (mState != LoaderStateHandedOver || mModule.mMessage == _null)
        return false;
    return mModule.mMessage(mHostWindow, record.mMessage, record.mWParam, record.mLParam) != 0;
}

void Vexal3DLoader::Render() {
    if (mState == LoaderStateHandedOver && mModule.mRender != _null)
        mModule.mRender(mHostWindow);
}

const WideChar* Vexal3DLoader::StateName(LoaderState state) {
    static const WideChar* const kNames[] = {
        u"created",
        u"server data",
        u"server data received",
        u"header",
        u"modules",
        u"module created",
        u"handed over",
    };
    if (state < 0 || state >= LoaderState(sizeof(kNames) / sizeof(kNames[0])))
        return u"unknown";
    return kNames[state];
}

void Vexal3DLoader::BeginDownload(const WideChar* url, Buffer* target, uint64_t rangeStart, int64_t rangeEnd) {
    target->Clear();
    mDownloadProgress = 0.0f;
    mDownloadTarget = target;
    mDownloadResourceLength = -1;
    mDownload = StartTransfer(url, rangeStart, rangeEnd, mPackageHandle, u"");
}

void Vexal3DLoader::PollDownload() {
    if (mDownload == _null)
        return;
    const float fraction = GetTransferProgress(mDownload);
    // The body is the loader's from here on; the transfer has ended.
    if (fraction == 1.0f && TakeTransferBody(mDownload, *mDownloadTarget, &mDownloadResourceLength))
        mDownload = _null;
    mDownloadProgress = fraction;
}

void Vexal3DLoader::StopDownload() {
    // Neither waits: a transfer still inside libcurl lets go on its own thread, and its body
    // never reaches the loader's buffers.
    if (mDownload != _null) {
        StopTransfer(mDownload);
        mDownload = _null;
    }
    if (mProbe != _null) {
        StopProbe(mProbe);
        mProbe = _null;
    }
    mSignaturePending = false;
    mDownloadProgress = 0.0f;
}

void Vexal3DLoader::NoteUpdateTime(uint64_t ticks) {
    const uint64_t outside = ticks > mBlockingTicks ? ticks - mBlockingTicks : 0;
    if (outside > mLongestUpdateTicks)
        mLongestUpdateTicks = outside;
    mBlockingTicks = 0;
}

Vexal3DLoader::BlockingStep::BlockingStep(Vexal3DLoader& loader)
    : mLoader(loader), mStart(ReadHighResolutionCounter()) {
}

void Vexal3DLoader::BlockingStep::End() {
    if (mEnded)
        return;
    mEnded = true;
    mLoader.mBlockingTicks += ReadHighResolutionCounter() - mStart;
}

void Vexal3DLoader::UnloadModule() {
    // _VobDelete also after a failed or missing _VobCreate: the module may have set up things
    // when it was loaded.
    if (mModule.mDelete != _null)
        mModule.mDelete(mHostWindow);
    if (mModule.mLibrary != _null)
        UnbindModule(mModule);
    std::memset(&mModule, 0, sizeof(mModule));
}

const WideChar* Vexal3DLoader::CurrentPackageUrl() const {
    if (!mPackageUrls.IsIndexValid(int32_t(mUrlIndex)))
        return u"";
    return mPackageUrls[int32_t(mUrlIndex)].Data();
}
