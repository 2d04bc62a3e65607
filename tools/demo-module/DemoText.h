// Text helpers of the demo module: the loader's UTF-16 texts as UTF-8, and the config pairs.
#pragma once

#include <string>
#include <utility>
#include <vector>

// UTF-16 (surrogate pairs joined) to UTF-8; an unpaired surrogate becomes U+FFFD. None is "".
std::string Utf8FromWide(const char16_t* text);

// Splits "name|value|name|value..." into pairs. A name without a value gets an empty value;
// empty names (from "||") are kept so the record shows exactly what arrived.
std::vector<std::pair<std::string, std::string>> SplitConfigText(const std::string& text);
