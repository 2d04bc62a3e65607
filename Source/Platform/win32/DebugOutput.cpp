// Debugger output through OutputDebugStringW, IsDebuggerPresent, environment variables.
#include "Source/Platform/DebugOutput.h"

#include <windows.h>

#include <new>

#include "Source/Platform/win32/WideText.h"

void WriteDebugOutput(const WideChar* text) {
    if (text == _null)
        return;
    OutputDebugStringW(SystemText(text));
}

bool IsDebuggerAttached() {
    return IsDebuggerPresent() != 0;
}

bool ReadEnvironmentVariable(const WideChar* name, WideChar* buffer, int32_t size) {
    if (buffer != _null && size > 0)
        buffer[0] = 0;
    if (name == _null)
        return false;
    WideChar probe[1];
    DWORD needed = GetEnvironmentVariableW(SystemText(name), SystemText(probe), 1);
    if (needed == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
    if (buffer == _null || size <= 0)
        return true;
    DWORD got = GetEnvironmentVariableW(SystemText(name), SystemText(buffer), DWORD(size));
    // Too long for the buffer: the value is cut, as the engine's callers expect of a bounded copy.
    if (got >= DWORD(size)) {
        WideChar* whole = new (std::nothrow) WideChar[got + 1];
        if (whole != _null && GetEnvironmentVariableW(SystemText(name), SystemText(whole), got + 1) <= got) {
            for (int32_t i = 0; i < size - 1; ++i)
                buffer[i] = whole[i];
            buffer[size - 1] = 0;
        } else {
            buffer[0] = 0;
        }
        delete[] whole;
    }
    return true;
}
