// The wait before the next attempt of something that failed (a download, a package header, a
// module block): 1 s doubling up to a minute, less a random part of up to a quarter, so that
// players refused together do not come back together.
#pragma once

#include "Common/Types.h"

// The wait in ms before the attempt after round failures in a row (round 0: the first wait),
// less randomBits modulo a quarter of it and one.
uint32_t RetryWaitMs(uint32_t round, uint32_t randomBits);
// RetryWaitMs with random bits from the calling thread's own generator.
uint32_t RandomRetryWaitMs(uint32_t round);
