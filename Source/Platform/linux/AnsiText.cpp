// The "ANSI code page" on Linux: the C library's multibyte conversion of the current locale,
// through UTF-32 code points.
#include "Source/Platform/AnsiText.h"

#include <climits>
#include <cstdint>
#include <cwchar>

namespace {

// One character of UTF-16 text starting at input[i] (a surrogate pair joined when complete);
// advances i.
char32_t NextCodePoint(const WideChar* input, int32_t length, int32_t& i) {
    char32_t unit = input[i++];
    if (unit >= 0xD800 && unit < 0xDC00 && i < length && input[i] >= 0xDC00 && input[i] < 0xE000)
        return 0x10000 + ((unit - 0xD800) << 10) + (input[i++] - 0xDC00);
    return unit;
}

} // namespace

int32_t EncodeAnsiText(char* output, int32_t outputSize, const WideChar* input, int32_t length) {
    int32_t limit = output ? outputSize - 1 : INT32_MAX;
    int32_t written = 0;
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (int32_t i = 0; i < length;) {
        char32_t codePoint = NextCodePoint(input, length, i);
        size_t size = std::wcrtomb(bytes, wchar_t(codePoint), &state);
        if (size == size_t(-1)) {
            state = std::mbstate_t{};
            bytes[0] = '?';
            size = 1;
        }
        if (int64_t(written) + int64_t(size) > limit) break;
        if (output)
            for (size_t b = 0; b < size; ++b) output[written + int32_t(b)] = bytes[b];
        written += int32_t(size);
    }
    if (output && outputSize > 0) output[written] = 0;
    return written;
}

int32_t DecodeAnsiText(WideChar* output, int32_t outputSize, const char* input, int32_t length) {
    int32_t limit = output ? outputSize - 1 : INT32_MAX;
    int32_t written = 0;
    std::mbstate_t state{};
    for (int32_t i = 0; i < length;) {
        wchar_t character;
        size_t size = std::mbrtowc(&character, input + i, size_t(length - i), &state);
        if (size == size_t(-2)) break; // a character cut by the end of the input
        char32_t codePoint;
        if (size == size_t(-1)) {
            state = std::mbstate_t{};
            codePoint = u'?';
            size = 1;
        } else {
            codePoint = char32_t(character);
            if (size == 0) size = 1;
        }
        int32_t units = (codePoint > 0xFFFF && codePoint <= 0x10FFFF) ? 2 : 1;
        if (written + units > limit) break;
        if (output) {
            if (units == 2) {
                output[written] = WideChar(0xD800 + ((codePoint - 0x10000) >> 10));
                output[written + 1] = WideChar(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
            } else {
                output[written] = codePoint > 0x10FFFF ? u'?' : WideChar(codePoint);
            }
        }
        written += units;
        i += int32_t(size);
    }
    if (output && outputSize > 0) output[written] = 0;
    return written;
}
