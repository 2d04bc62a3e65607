// Retrying a refused package header. The first pass over the package addresses falls back at
// once; once every address has refused its header, each further attempt waits first, 1 s
// doubling up to a minute, so that a package broken on its servers is not asked for again on
// every update by every player at once.
#include "loader/Loader.h"

#include <random>
#include "Source/Platform/Clock.h"
#include "Source/Platform/Log.h"
#include "loader/LoaderTexts.h"

namespace {

constexpr uint32_t kFirstRetryWait = 1000;
constexpr uint32_t kLongestRetryWait = 60000;

} // namespace

uint32_t Vexal3DLoader::HeaderRetryWait(uint32_t round, uint32_t randomBits) {
    uint32_t wait = kLongestRetryWait;
    if (round < 6)
        wait = kFirstRetryWait << round < kLongestRetryWait ? kFirstRetryWait << round : kLongestRetryWait;
    // Up to a quarter less, so that players refused together do not come back together.
    return wait - randomBits % (wait / 4 + 1);
}

void Vexal3DLoader::RetryHeader() {
    if (mHeaderRefusals != 0xFFFFFFFFu)
        ++mHeaderRefusals;
    const uint32_t count = uint32_t(mPackageUrls.GetCount());
    if (mHeaderRefusals < count) {
        StartHeaderDownload(CurrentPackageUrl());
        return;
    }
    static thread_local std::minstd_rand random(std::random_device{}());
    mHeaderWait = HeaderRetryWait(mHeaderRefusals - count, uint32_t(random()));
    mHeaderWaitStart = TimeMilliseconds();
    LogTrace(LoaderText::kHeaderRetryWait, mHeaderWait, CurrentPackageUrl());
}

bool Vexal3DLoader::HeaderRetryWaiting() {
    if (mHeaderWait == 0)
        return false;
    const uint32_t now = TimeMilliseconds();
    if (now - mHeaderWaitStart < mHeaderWait) {
        ShowHeaderProgress(0.0f);
        return true;
    }
    mHeaderWait = 0;
    // The wait is no part of the attempt: the address has its whole time-out from now on.
    mLastAttemptTime = now;
    StartHeaderDownload(CurrentPackageUrl());
    return false;
}
