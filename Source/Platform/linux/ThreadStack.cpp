// The stack bounds of a POSIX thread.
#include "Source/Platform/ThreadStack.h"

#include <pthread.h>

namespace {

constexpr size_t kMaxReserve = 256 * 1024;

const char* ComputeStackFloor() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return _null;
    void* low = _null;
    size_t size = 0;
    int status = pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (status != 0 || low == _null || size == 0) return _null;
    size_t reserve = size / 4 < kMaxReserve ? size / 4 : kMaxReserve;
    return static_cast<const char*>(low) + reserve;
}

} // namespace

const char* StackFloor() {
    static thread_local bool known = false;
    static thread_local const char* floor = _null;
    if (!known) {
        floor = ComputeStackFloor();
        known = true;
    }
    return floor;
}
