// The stack bounds of a Windows thread.
#include "Source/Platform/ThreadStack.h"

#include <windows.h>

namespace {

constexpr size_t kMaxReserve = 256 * 1024;

const char* ComputeStackFloor() {
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    if (low == 0 || high <= low)
        return _null;
    size_t size = size_t(high - low);
    size_t reserve = size / 4 < kMaxReserve ? size / 4 : kMaxReserve;
    return reinterpret_cast<const char*>(low) + reserve;
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
