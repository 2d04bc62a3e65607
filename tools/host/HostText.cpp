// UTF-8 to UTF-16 for launch parameters.
#include "HostText.h"

#include <cstdint>

std::u16string WideFromUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0, n = text.size();
    while (i < n) {
        uint8_t lead = uint8_t(text[i]);
        uint32_t code = 0;
        size_t count = 0;
        if (lead < 0x80) { code = lead; count = 0; }
        else if ((lead & 0xE0) == 0xC0) { code = lead & 0x1F; count = 1; }
        else if ((lead & 0xF0) == 0xE0) { code = lead & 0x0F; count = 2; }
        else if ((lead & 0xF8) == 0xF0) { code = lead & 0x07; count = 3; }
        else { out.push_back(u'\xFFFD'); ++i; continue; }
        bool valid = true;
        for (size_t k = 1; valid && k <= count; ++k) {
            if (i + k >= n || (uint8_t(text[i + k]) & 0xC0) != 0x80) valid = false;
            else code = (code << 6) | (uint8_t(text[i + k]) & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not characters.
        static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (!valid || code < kMinimum[count] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(char16_t(0xD800 + (code >> 10)));
            out.push_back(char16_t(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(char16_t(code));
        }
        i += count + 1;
    }
    return out;
}
