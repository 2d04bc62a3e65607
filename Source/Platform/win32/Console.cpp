// Console text in the system's ANSI code page, as Windows programs write it.
#include "Source/Platform/Console.h"

#include <windows.h>
#include <cstdio>

#include "Source/Common/String.h"
#include "Source/Platform/win32/WideText.h"

void WriteConsoleText(const WideChar* text, bool endLine) {
    if (text != _null && text[0] != 0) {
        // In pieces of whole characters, so that no message needs memory of its own.
        char bytes[4096];
        const WideChar* rest = text;
        int32_t remaining = String::Length(text);
        while (remaining > 0) {
            int32_t count = remaining < 512 ? remaining : 512;
            if (count < remaining && rest[count - 1] >= 0xD800 && rest[count - 1] < 0xDC00)
                --count;
            int written = WideCharToMultiByte(CP_ACP, 0, SystemText(rest), count, bytes, int(sizeof(bytes)),
                                              _null, _null);
            if (written > 0)
                std::fwrite(bytes, 1, size_t(written), stdout);
            rest += count;
            remaining -= count;
        }
    }
    if (endLine)
        std::fputs("\n", stdout);
    std::fflush(_null);
}
