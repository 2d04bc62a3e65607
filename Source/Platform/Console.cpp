// Console text in pieces of whole characters, each converted by the system's side.
#include "Source/Platform/Console.h"

#include <cstdio>

#include "Source/Common/String.h"

void WriteConsoleText(const WideChar* text, bool endLine) {
    BeginConsoleText();
    if (text != _null && text[0] != 0) {
        // In pieces of whole characters, so that no message needs memory of its own.
        char bytes[4096];
        const WideChar* rest = text;
        int32_t remaining = String::Length(text);
        while (remaining > 0) {
            int32_t count = remaining < 512 ? remaining : 512;
            if (count < remaining && rest[count - 1] >= 0xD800 && rest[count - 1] < 0xDC00)
                --count;
            const int32_t written = ConsoleBytes(bytes, int32_t(sizeof(bytes)), rest, count);
            if (written > 0)
                std::fwrite(bytes, 1, size_t(written), stdout);
            rest += count;
            remaining -= count;
        }
    }
    EndConsoleText();
    if (endLine)
        std::fputs("\n", stdout);
    std::fflush(_null);
}
