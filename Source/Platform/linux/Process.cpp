// The process identity over POSIX.
#include "Source/Platform/Process.h"

#include <unistd.h>

uint32_t CurrentProcessId() {
    return uint32_t(getpid());
}
