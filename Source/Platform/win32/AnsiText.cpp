// The "ANSI code page" on Windows: the system's code page (CP_ACP), character by character so
// that none goes out in part.
#include "Source/Platform/AnsiText.h"

#include <windows.h>

#include <climits>

#include "Source/Platform/win32/WideText.h"

int32_t EncodeAnsiText(char* output, int32_t outputSize, const WideChar* input, int32_t length) {
    int32_t limit = output ? outputSize - 1 : INT32_MAX;
    int32_t written = 0;
    for (int32_t i = 0; i < length;) {
        // One character: a surrogate pair when complete, else one unit.
        int32_t units = 1;
        if (input[i] >= 0xD800 && input[i] < 0xDC00 && i + 1 < length && input[i + 1] >= 0xDC00 &&
            input[i + 1] < 0xE000)
            units = 2;
        char bytes[8];
        BOOL lossy = FALSE;
        int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, SystemText(input + i), units, bytes,
                                       int(sizeof(bytes)), "?", &lossy);
        if (size <= 0 || lossy) {
            bytes[0] = '?';
            size = 1;
        }
        i += units;
        if (int64_t(written) + size > limit)
            break;
        if (output)
            for (int b = 0; b < size; ++b)
                output[written + b] = bytes[b];
        written += size;
    }
    if (output && outputSize > 0)
        output[written] = 0;
    return written;
}

int32_t DecodeAnsiText(WideChar* output, int32_t outputSize, const char* input, int32_t length) {
    int32_t limit = output ? outputSize - 1 : INT32_MAX;
    int32_t written = 0;
    for (int32_t i = 0; i < length;) {
        int32_t size = IsDBCSLeadByteEx(CP_ACP, BYTE(input[i])) ? 2 : 1;
        if (i + size > length)
            break; // a character cut by the end of the input
        wchar_t units[4];
        int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, input + i, size, units, 4);
        if (count <= 0) {
            units[0] = L'?';
            count = 1;
            size = 1;
        }
        if (written + count > limit)
            break;
        if (output)
            for (int u = 0; u < count; ++u)
                output[written + u] = WideChar(units[u]);
        written += count;
        i += size;
    }
    if (output && outputSize > 0)
        output[written] = 0;
    return written;
}
