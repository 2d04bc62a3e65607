// The process lock over a slim reader/writer lock, taken exclusively: all-zero bytes are
// SRWLOCK_INIT, and it waits through the system's keyed events, so it never owns a handle.
#include "Source/Platform/ProcessLock.h"

#include <windows.h>

namespace {

SRWLOCK* Native(unsigned char* state) { return reinterpret_cast<SRWLOCK*>(state); }

} // namespace

static_assert(sizeof(SRWLOCK) <= 40 && alignof(SRWLOCK) <= 8);

void ProcessLock::lock() { AcquireSRWLockExclusive(Native(mState)); }

void ProcessLock::unlock() { ReleaseSRWLockExclusive(Native(mState)); }
