// The update cycle: the one driver of every phase, the one door of every state change with its
// tick, the module step with the hand-off, and the speed figure.
#include "loader/Loader.h"

#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"
#include "loader/LoaderTexts.h"

void Vexal3DLoader::EnterState(LoaderState state) {
    mState = state;
    LogTrace(LoaderText::kEnterState, int(state), StateName(state));
    if (!mTickUrl.IsEmpty())
        SendPing(Format(LoaderText::kStateTick, mTickUrl.Data(), int(state), VersionSuffix().Data()));
}

void Vexal3DLoader::Update(uint32_t elapsedMs) {
    if (mPingHandle != _null)
        PollWebHandle(mPingHandle);

    if (mState == LoaderStateHandedOver) {
        FinalTick();
        if (mModule.mUpdate != _null)
            mModule.mUpdate(mHostWindow, elapsedMs);
        return;
    }

    PeriodicTick(elapsedMs);

    // Counted down before the steps, so a delay that runs out in this update allows the
    // hand-off in this same update.
    if (mDelay != kDelayHold)
        mDelay = mDelay > elapsedMs ? mDelay - elapsedMs : 0;

    PollDownload();
    if (mServerDataSearch != _null)
        ServerDataSearchStep();
    switch (mState) {
    case LoaderStateServerData:
        ServerDataStep();
        break;
    case LoaderStateHeader:
        HeaderStep();
        break;
    case LoaderStateModules:
        ModuleBlockStep();
        break;
    case LoaderStateModuleCreated:
        ModuleStep(elapsedMs);
        break;
    default:
        break;
    }

    RefreshSpeed();
}

void Vexal3DLoader::ModuleStep(uint32_t elapsedMs) {
    const int ready = mModule.mUpdate(mHostWindow, elapsedMs);
    if (ready != 0 && mDelay == 0) {
        EnterState(LoaderStateHandedOver);
        ReleaseLoadingScreen();
    }
    float value = 0.0f;
    mModule.mProgress(&value, &mResCount, &mFinishCount, &mResSize, &mFinishSize);
    mProgress = float(double(value) * double(0.6f) + double(0.4f));
}

void Vexal3DLoader::RefreshSpeed() {
    if (mPackageHandle != _null)
        mSpeed = float(GetDownloadSpeed(mPackageHandle));
    else if (mModule.mSpeed != _null)
        mModule.mSpeed(&mSpeed);
}
