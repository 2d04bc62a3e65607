// The process identity over Windows.
#include "Source/Platform/Process.h"

#include <windows.h>

uint32_t CurrentProcessId() {
    return uint32_t(GetCurrentProcessId());
}
