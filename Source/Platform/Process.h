// The calling process's identity.
#pragma once

#include "Common/Types.h"

// The process identifier. Any thread.
uint32_t CurrentProcessId();
