// The debugger output, the attached-debugger test and environment variables.
#pragma once

#include "Common/Types.h"

// Writes the text as it stands (no line end added) to the debugger output; on this platform
// that is standard error, in UTF-8. Unbuffered; any thread.
void WriteDebugOutput(const WideChar* text);

// True when a debugger (a tracer) is attached to the process.
bool IsDebuggerAttached();

// Copies the value of the environment variable into buffer (at most size - 1 units, always
// terminated when size > 0). False, with an empty buffer, when the variable is not set.
bool ReadEnvironmentVariable(const WideChar* name, WideChar* buffer, int32_t size);
