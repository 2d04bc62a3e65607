// UTF-8 command-line text to the loader's UTF-16 text, and the loader's UTF-16 log files back.
#pragma once

#include <string>

// Decodes UTF-8 (1- to 4-byte sequences; 4-byte ones become surrogate pairs). A byte that does
// not start a valid sequence becomes U+FFFD, so any input gives a defined text.
std::u16string WideFromUtf8(const std::string& text);

// UTF-16LE bytes (a leading byte-order mark skipped, a last odd byte dropped) as UTF-8. Lone
// surrogates become U+FFFD.
std::string Utf8FromUtf16Bytes(const std::string& bytes);

// UTF-8 text for the terminal: every control character (C0 but the tab, DEL, and C1 as U+0080 to
// U+009F)
// written as an escape ("\x1b"), so that a name from a package or a server that reached a log
// line cannot act on the terminal that shows it.
std::string PrintableUtf8(const std::string& text);
