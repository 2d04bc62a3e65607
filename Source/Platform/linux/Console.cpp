// Console text in the user's character set through a locale object of the calling thread.
#include "Source/Platform/Console.h"

#include <locale.h>

#include "Source/Common/StringEncoding.h"

namespace {

// The locale of the text being written and the one it replaced, on this thread.
thread_local locale_t tConsole = static_cast<locale_t>(0);
thread_local locale_t tPrevious = static_cast<locale_t>(0);

} // namespace

void BeginConsoleText() {
    // The user's character set, through a locale object of the sink's own made current on the
    // calling thread only: the process's locale, which other threads read while they convert
    // text (the regex engine's case folding among them), is never changed.
    // Made anew for every message, as the environment that names it may change.
    tConsole = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    tPrevious = uselocale(tConsole != static_cast<locale_t>(0) ? tConsole : LC_GLOBAL_LOCALE);
}

int32_t ConsoleBytes(char* bytes, int32_t size, const WideChar* text, int32_t count) {
    int32_t written = 0;
    WideToAnsi(bytes, size, text, count, &written);
    return written;
}

void EndConsoleText() {
    uselocale(tPrevious);
    if (tConsole != static_cast<locale_t>(0)) freelocale(tConsole);
    tConsole = static_cast<locale_t>(0);
}
