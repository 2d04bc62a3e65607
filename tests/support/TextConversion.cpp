// Engine text to and from the UTF-8 the tests write their expectations in.
#include <cstdlib>

#include "Source/Common/StringEncoding.h"
#include "support/ScratchFolder.h"

String WideText(const std::string& text) {
    WideChar* wide = Utf8ToUtf16(nullptr, 0, text.c_str());
    String result(wide);
    free(wide);
    return result;
}

std::string NarrowText(const WideChar* text) {
    char* narrow = Utf16ToUtf8(nullptr, 0, text);
    std::string result(narrow != nullptr ? narrow : "");
    free(narrow);
    return result;
}
