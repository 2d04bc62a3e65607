// Conversions between the engine's UTF-16 text, UTF-8 (the engine's own converter) and the
// locale's multibyte encoding ("ANSI code page").
#pragma once

#include "Common/Types.h"

// With output none, a buffer of exactly the needed size plus terminator is allocated with
// malloc and returned; the caller frees it with free(). Otherwise output is returned.
// inputCount -1 means up to the terminator. outLength (optional) receives the units/bytes
// written without the terminator; truncated (optional) is set when the output was too small.
// A missing input is the assertion "str != _null" (an empty result is returned).

// One unit < 0x80 -> 1 byte, < 0x800 -> 2, otherwise 3 (surrogates encoded one by one). Stops
// when the next character would not leave room for the terminator.
char* Utf16ToUtf8(char* output, int32_t outputSize, const WideChar* input, int32_t inputCount = -1,
                  int32_t* outLength = _null, bool* truncated = _null);
// Decodes 1-, 2- and 3-byte sequences; stray continuation bytes and 4-byte leads are skipped; a
// sequence cut by the end of the input is dropped. At most outputSize - 1 units.
WideChar* Utf8ToUtf16(WideChar* output, int32_t outputSize, const char* input, int32_t inputCount = -1,
                      int32_t* outLength = _null, bool* truncated = _null);
// The number of units Utf8ToUtf16 makes of the input (no output limit); 0 for a missing input.
int32_t Utf8ToUtf16Count(const char* input, int32_t inputCount = -1);
// Through the C library's locale conversion of the current LC_CTYPE (UTF-16 surrogate pairs
// joined); a character the locale cannot express becomes "?", and a character is never written
// in part: the output is cut before one that does not fit.
char* WideToAnsi(char* output, int32_t outputSize, const WideChar* input, int32_t inputCount = -1,
                 int32_t* outLength = _null);
WideChar* AnsiToWide(WideChar* output, int32_t outputSize, const char* input, int32_t inputCount = -1,
                     int32_t* outLength = _null);
