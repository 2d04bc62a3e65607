// UTF-8 command-line text to the loader's UTF-16 text.
#pragma once

#include <string>

// Decodes UTF-8 (1- to 4-byte sequences; 4-byte ones become surrogate pairs). A byte that does
// not start a valid sequence becomes U+FFFD, so any input gives a defined text.
std::u16string WideFromUtf8(const std::string& text);
