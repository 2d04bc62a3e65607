// The system's own words for an error code (FormatMessageW), for the log's "reason" texts.
#pragma once

#include <windows.h>

#include "Source/Common/String.h"
#include "Source/Platform/win32/WideText.h"

// The text without the line break the system ends it with; empty when the system has none.
inline String SystemErrorText(DWORD error) {
    String reason;
    wchar_t* text = _null;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, _null,
                                  error, 0, reinterpret_cast<wchar_t*>(&text), 0, _null);
    if (length > 0 && text != _null) {
        while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
            text[--length] = 0;
        reason = EngineText(text);
    }
    if (text != _null) LocalFree(text);
    return reason;
}
