// The recursion floor of a thread's stack, over the bounds the system tells.
#include "Source/Platform/ThreadStack.h"

namespace {

constexpr size_t kMaxReserve = 256 * 1024;

const char* ComputeStackFloor() {
    const char* low = _null;
    size_t size = 0;
    if (!ThreadStackBounds(&low, &size) || low == _null || size == 0)
        return _null;
    size_t reserve = size / 4 < kMaxReserve ? size / 4 : kMaxReserve;
    return low + reserve;
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
