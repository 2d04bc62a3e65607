// The process lock over a POSIX mutex, whose all-zero bytes are PTHREAD_MUTEX_INITIALIZER.
#include "Source/Platform/ProcessLock.h"

#include <pthread.h>

namespace {

pthread_mutex_t* Native(unsigned char* state) { return reinterpret_cast<pthread_mutex_t*>(state); }

} // namespace

static_assert(sizeof(pthread_mutex_t) <= 40 && alignof(pthread_mutex_t) <= 8);

void ProcessLock::lock() { pthread_mutex_lock(Native(mState)); }

void ProcessLock::unlock() { pthread_mutex_unlock(Native(mState)); }
