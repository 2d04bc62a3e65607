// The stack bounds of a Windows thread.
#include "Source/Platform/ThreadStack.h"

#include <windows.h>

bool ThreadStackBounds(const char** low, size_t* size) {
    ULONG_PTR bottom = 0, top = 0;
    GetCurrentThreadStackLimits(&bottom, &top);
    if (bottom == 0 || top <= bottom)
        return false;
    *low = reinterpret_cast<const char*>(bottom);
    *size = size_t(top - bottom);
    return true;
}
