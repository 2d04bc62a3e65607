// Retrying a refused package header. The first pass over the package addresses falls back at
// once; once every address has refused its header, each further attempt waits first, 1 s
// doubling up to a minute, so that a package broken on its servers is not asked for again on
// every update by every player at once.
#include "loader/Loader.h"

#include "Source/Common/RetryWait.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/Log.h"
#include "loader/LoaderTexts.h"

void RetryTimer::Begin(uint32_t round) {
    mLength = RandomRetryWaitMs(round);
    mStart = TimeMilliseconds();
}

// Measured as a difference, so the millisecond timer's wrap neither ends a wait early nor
// stretches it.
bool RetryTimer::HasRunOut() const { return TimeMilliseconds() - mStart >= mLength; }

void Vexal3DLoader::RetryHeader() {
    if (mHeaderRefusals != 0xFFFFFFFFu)
        ++mHeaderRefusals;
    const uint32_t count = uint32_t(mPackageUrls.GetCount());
    if (mHeaderRefusals < count) {
        StartHeaderDownload(CurrentPackageUrl());
        return;
    }
    mHeaderWait.Begin(mHeaderRefusals - count);
    LogTrace(LoaderText::kHeaderRetryWait, mHeaderWait.mLength, CurrentPackageUrl());
}

bool Vexal3DLoader::HeaderRetryWaiting() {
    if (!mHeaderWait.IsSet())
        return false;
    if (!mHeaderWait.HasRunOut()) {
        ShowHeaderProgress(0.0f);
        return true;
    }
    mHeaderWait.Clear();
    // The wait is no part of the attempt: the address has its whole time-out from now on.
    mLastAttemptTime = TimeMilliseconds();
    StartHeaderDownload(CurrentPackageUrl());
    return false;
}
