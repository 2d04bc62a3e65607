// Console text in the system's ANSI code page, as Windows programs write it.
#include "Source/Platform/Console.h"

#include <windows.h>

#include "Source/Platform/win32/WideText.h"

void BeginConsoleText() {}

int32_t ConsoleBytes(char* bytes, int32_t size, const WideChar* text, int32_t count) {
    const int written = WideCharToMultiByte(CP_ACP, 0, SystemText(text), count, bytes, size, _null, _null);
    return written > 0 ? int32_t(written) : 0;
}

void EndConsoleText() {}
