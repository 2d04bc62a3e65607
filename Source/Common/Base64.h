// Base64 text (RFC 4648, the standard alphabet with "=" padding) of keys and signatures.
#pragma once

#include "Common/Types.h"

// The text length for count bytes (a multiple of 4, no terminator counted).
constexpr size_t Base64Length(size_t count) { return (count + 2) / 3 * 4; }

// Writes Base64Length(count) characters and a terminator into text.
void Base64Encode(const void* bytes, size_t count, char* text);

// Decodes text of exactly length characters into at most capacity bytes; *decoded receives the
// number written. Only the canonical form is taken, so that one value has one text: the length a
// multiple of 4, no blanks or line ends, "=" only as the padding of the last group, and the bits
// the padding leaves over all zero. False for anything else or when the bytes do not fit.
bool Base64Decode(const char* text, size_t length, uint8_t* bytes, size_t capacity, size_t* decoded);
