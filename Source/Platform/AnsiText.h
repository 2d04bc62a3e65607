// The user's multibyte character set (the "ANSI code page") for text that leaves the engine as
// bytes: console output, ANSI file text. Linux: the C library's current locale. Windows: the
// system's ANSI code page.
#pragma once

#include "Common/Types.h"

// Encodes length units of UTF-16 into output (at most outputSize - 1 bytes, then a terminator);
// a null output only counts. Characters the character set cannot express become "?"; a character
// never goes out in part. Returns the bytes written (or counted).
int32_t EncodeAnsiText(char* output, int32_t outputSize, const WideChar* input, int32_t length);

// Decodes length bytes into output (at most outputSize - 1 units, then a terminator); a null
// output only counts. Bytes that form no character become "?"; a character cut by the end of
// the input is left out. Returns the units written (or counted).
int32_t DecodeAnsiText(WideChar* output, int32_t outputSize, const char* input, int32_t length);
