// UTF-8 to UTF-16 decoding for the command-line matcher.
#include "tools/regex/Utf8Text.h"

std::u16string DecodeUtf8(const std::string& bytes) {
    std::u16string units;
    units.reserve(bytes.size());
    size_t length = bytes.size();
    for (size_t i = 0; i < length;) {
        unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            units.push_back(char16_t(lead));
            ++i;
            continue;
        }
        int extra = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? (lead < 0xF0 ? 2 : -1)
                                                   : lead >= 0xC2   ? 1
                                                                    : -1;
        uint32_t code = extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F
                                                              : lead & 0x07;
        bool valid = extra > 0;
        for (int k = 1; valid && k <= extra; ++k) {
            if (i + size_t(k) >= length) {
                valid = false;
                break;
            }
            unsigned char next = static_cast<unsigned char>(bytes[i + size_t(k)]);
            if ((next & 0xC0) != 0x80) valid = false;
            code = (code << 6) | (next & 0x3F);
        }
        if (valid) {
            // Reject overlong forms, encoded surrogates and values past U+10FFFF.
            if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
                (code >= 0xD800 && code <= 0xDFFF))
                valid = false;
        }
        if (!valid) {
            units.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        if (code > 0xFFFF) {
            code -= 0x10000;
            units.push_back(char16_t(0xD800 + (code >> 10)));
            units.push_back(char16_t(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(char16_t(code));
        }
        i += size_t(extra) + 1;
    }
    return units;
}
