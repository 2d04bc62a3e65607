// Retry waits.
#include "Source/Common/RetryWait.h"

#include <random>

namespace {

constexpr uint32_t kFirstRetryWait = 1000;
constexpr uint32_t kLongestRetryWait = 60000;

} // namespace

uint32_t RetryWaitMs(uint32_t round, uint32_t randomBits) {
    uint32_t wait = kLongestRetryWait;
    if (round < 6)
        wait = kFirstRetryWait << round < kLongestRetryWait ? kFirstRetryWait << round : kLongestRetryWait;
    return wait - randomBits % (wait / 4 + 1);
}

uint32_t RandomRetryWaitMs(uint32_t round) {
    static thread_local std::minstd_rand random(std::random_device{}());
    return RetryWaitMs(round, uint32_t(random()));
}
