// Console text in the user's character set through a locale object of the calling thread.
#include "Source/Platform/Console.h"

#include <locale.h>
#include <cstdio>

#include "Source/Common/String.h"
#include "Source/Common/StringEncoding.h"

void WriteConsoleText(const WideChar* text, bool endLine) {
    // The user's character set, through a locale object of the sink's own made current on the
    // calling thread only: the process's locale, which other threads read while they convert
    // text (the regex engine's case folding among them), is never changed.
    // Made anew for every message, as the environment that names it may change.
    const locale_t console = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    const locale_t previous = uselocale(console != static_cast<locale_t>(0) ? console : LC_GLOBAL_LOCALE);
    if (text != _null && text[0] != 0) {
        // In pieces of whole characters, so that no message needs memory of its own.
        char bytes[4096];
        const WideChar* rest = text;
        int32_t remaining = String::Length(text);
        while (remaining > 0) {
            int32_t count = remaining < 512 ? remaining : 512;
            if (count < remaining && rest[count - 1] >= 0xD800 && rest[count - 1] < 0xDC00) --count;
            int32_t written = 0;
            WideToAnsi(bytes, int32_t(sizeof(bytes)), rest, count, &written);
            std::fwrite(bytes, 1, size_t(written), stdout);
            rest += count;
            remaining -= count;
        }
    }
    uselocale(previous);
    if (console != static_cast<locale_t>(0)) freelocale(console);
    if (endLine) std::fputs("\n", stdout);
    std::fflush(_null);
}
