// Base64 encoding and a decoder that takes only the canonical text.
#include "Source/Common/Base64.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

void Base64Encode(const void* bytes, size_t count, char* text) {
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    size_t out = 0;
    for (size_t i = 0; i < count; i += 3) {
        const size_t left = count - i;
        const uint32_t group = uint32_t(in[i]) << 16 | (left > 1 ? uint32_t(in[i + 1]) << 8 : 0) |
                               (left > 2 ? uint32_t(in[i + 2]) : 0);
        text[out++] = kAlphabet[group >> 18];
        text[out++] = kAlphabet[(group >> 12) & 63];
        text[out++] = left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        text[out++] = left > 2 ? kAlphabet[group & 63] : '=';
    }
    text[out] = 0;
}

bool Base64Decode(const char* text, size_t length, uint8_t* bytes, size_t capacity, size_t* decoded) {
    if (decoded != _null)
        *decoded = 0;
    if (text == _null || length % 4 != 0)
        return false;
    size_t out = 0;
    for (size_t i = 0; i < length; i += 4) {
        const bool last = i + 4 == length;
        int padding = 0;
        if (last && text[i + 3] == '=')
            padding = text[i + 2] == '=' ? 2 : 1;
        uint32_t group = 0;
        for (int k = 0; k < 4 - padding; ++k) {
            const int sextet = SextetOf(text[i + k]);
            if (sextet < 0)
                return false;
            group = group << 6 | uint32_t(sextet);
        }
        group <<= 6 * padding;
        // Bits that fall into the padding must be zero, or two texts would give the same bytes.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))
            return false;
        const size_t count = size_t(3 - padding);
        if (out + count > capacity)
            return false;
        bytes[out++] = uint8_t(group >> 16);
        if (count > 1)
            bytes[out++] = uint8_t(group >> 8);
        if (count > 2)
            bytes[out++] = uint8_t(group);
    }
    if (decoded != _null)
        *decoded = out;
    return true;
}
