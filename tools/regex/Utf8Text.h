// UTF-8 to UTF-16 decoding for the command-line matcher.
#pragma once

#include <string>
#include "Common/Types.h"

// Decodes UTF-8 into UTF-16 code units: characters above U+FFFF become surrogate pairs, every
// byte that does not start a well-formed sequence (stray continuation bytes, overlong forms,
// encoded surrogates, a sequence cut by the end) becomes U+FFFD, one per byte.
std::u16string DecodeUtf8(const std::string& bytes);
