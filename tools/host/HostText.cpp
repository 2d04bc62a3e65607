// UTF-8 to UTF-16 for launch parameters, UTF-16 to UTF-8 for the loader's log files.
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
        if (lead < 0x80) {
            code = lead;
            count = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            count = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            count = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            count = 3;
        } else {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
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

std::string Utf8FromUtf16Bytes(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    size_t i = bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE ? 2 : 0;
    auto unitAt = [&](size_t at) { return uint32_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
    for (; i + 1 < bytes.size(); i += 2) {
        uint32_t code = unitAt(i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size() && unitAt(i + 2) >= 0xDC00 &&
            unitAt(i + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(char(code));
        } else if (code < 0x800) {
            out.push_back(char(0xC0 | code >> 6));
            out.push_back(char(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(char(0xE0 | code >> 12));
            out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(char(0x80 | (code & 0x3F)));
        } else {
            out.push_back(char(0xF0 | code >> 18));
            out.push_back(char(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(char(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

std::string PrintableUtf8(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t byte = uint8_t(text[i]);
        // A C1 control is two bytes in UTF-8: C2 80 to C2 9F.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && uint8_t(text[i + 1]) >= 0x80 && uint8_t(text[i + 1]) <= 0x9F;
        if (!c1 && (byte >= 0x20 || byte == '\t') && byte != 0x7F) {
            out.push_back(char(byte));
            continue;
        }
        const uint8_t code = c1 ? uint8_t(text[++i]) : byte;
        out += "\\x";
        out.push_back(kHex[code >> 4]);
        out.push_back(kHex[code & 0xF]);
    }
    return out;
}
