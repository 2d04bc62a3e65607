// The engine's digest: RFC 1321's compression function with the engine's own padding rule.
#include "Source/Common/Digest.h"

#include <cstdlib>
#include <cstring>

#include "Source/Platform/File.h"

namespace {

// ForEachFileBlock's read size: a multiple of 64, so the engine's digest chains over the pieces.
constexpr uint32_t kFileBlockSize = 65536;

inline uint32_t Rotate(uint32_t value, int count) {
    return (value << count) | (value >> (32 - count));
}

inline uint32_t LoadWord(const uint8_t* bytes) {
    uint32_t word;
    memcpy(&word, bytes, sizeof(word)); // the block's words are little-endian, as is the machine
    return word;
}

// The four rounds, written so that each step's dependency chain on the previous result is short:
// the parts that do not involve the newest word are added first.
#define VEXAL_F(a, b, c, d, x, s, t)          \
    a += x + t + ((((c) ^ (d)) & (b)) ^ (d)); \
    a = Rotate(a, s) + b;
#define VEXAL_G(a, b, c, d, x, s, t) \
    a += x + t + (~(d) & (c));       \
    a += (d) & (b);                  \
    a = Rotate(a, s) + b;
#define VEXAL_H(a, b, c, d, x, s, t) \
    a += x + t + ((b) ^ (c) ^ (d));  \
    a = Rotate(a, s) + b;
#define VEXAL_I(a, b, c, d, x, s, t)   \
    a += x + t + ((c) ^ ((b) | ~(d))); \
    a = Rotate(a, s) + b;

// Runs the compression function over count consecutive 64-byte blocks.
void Compress(Digest& state, const uint8_t* blocks, size_t count) {
    uint32_t a = state.a, b = state.b, c = state.c, d = state.d;
    for (; count != 0; --count, blocks += 64) {
        const uint32_t x0 = LoadWord(blocks + 0), x1 = LoadWord(blocks + 4);
        const uint32_t x2 = LoadWord(blocks + 8), x3 = LoadWord(blocks + 12);
        const uint32_t x4 = LoadWord(blocks + 16), x5 = LoadWord(blocks + 20);
        const uint32_t x6 = LoadWord(blocks + 24), x7 = LoadWord(blocks + 28);
        const uint32_t x8 = LoadWord(blocks + 32), x9 = LoadWord(blocks + 36);
        const uint32_t x10 = LoadWord(blocks + 40), x11 = LoadWord(blocks + 44);
        const uint32_t x12 = LoadWord(blocks + 48), x13 = LoadWord(blocks + 52);
        const uint32_t x14 = LoadWord(blocks + 56), x15 = LoadWord(blocks + 60);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        VEXAL_F(a, b, c, d, x0, 7, 0xd76aa478u)
        VEXAL_F(d, a, b, c, x1, 12, 0xe8c7b756u)
        VEXAL_F(c, d, a, b, x2, 17, 0x242070dbu)
        VEXAL_F(b, c, d, a, x3, 22, 0xc1bdceeeu)
        VEXAL_F(a, b, c, d, x4, 7, 0xf57c0fafu)
        VEXAL_F(d, a, b, c, x5, 12, 0x4787c62au)
        VEXAL_F(c, d, a, b, x6, 17, 0xa8304613u)
        VEXAL_F(b, c, d, a, x7, 22, 0xfd469501u)
        VEXAL_F(a, b, c, d, x8, 7, 0x698098d8u)
        VEXAL_F(d, a, b, c, x9, 12, 0x8b44f7afu)
        VEXAL_F(c, d, a, b, x10, 17, 0xffff5bb1u)
        VEXAL_F(b, c, d, a, x11, 22, 0x895cd7beu)
        VEXAL_F(a, b, c, d, x12, 7, 0x6b901122u)
        VEXAL_F(d, a, b, c, x13, 12, 0xfd987193u)
        VEXAL_F(c, d, a, b, x14, 17, 0xa679438eu)
        VEXAL_F(b, c, d, a, x15, 22, 0x49b40821u)

        VEXAL_G(a, b, c, d, x1, 5, 0xf61e2562u)
        VEXAL_G(d, a, b, c, x6, 9, 0xc040b340u)
        VEXAL_G(c, d, a, b, x11, 14, 0x265e5a51u)
        VEXAL_G(b, c, d, a, x0, 20, 0xe9b6c7aau)
        VEXAL_G(a, b, c, d, x5, 5, 0xd62f105du)
        VEXAL_G(d, a, b, c, x10, 9, 0x02441453u)
        VEXAL_G(c, d, a, b, x15, 14, 0xd8a1e681u)
        VEXAL_G(b, c, d, a, x4, 20, 0xe7d3fbc8u)
        VEXAL_G(a, b, c, d, x9, 5, 0x21e1cde6u)
        VEXAL_G(d, a, b, c, x14, 9, 0xc33707d6u)
        VEXAL_G(c, d, a, b, x3, 14, 0xf4d50d87u)
        VEXAL_G(b, c, d, a, x8, 20, 0x455a14edu)
        VEXAL_G(a, b, c, d, x13, 5, 0xa9e3e905u)
        VEXAL_G(d, a, b, c, x2, 9, 0xfcefa3f8u)
        VEXAL_G(c, d, a, b, x7, 14, 0x676f02d9u)
        VEXAL_G(b, c, d, a, x12, 20, 0x8d2a4c8au)

        VEXAL_H(a, b, c, d, x5, 4, 0xfffa3942u)
        VEXAL_H(d, a, b, c, x8, 11, 0x8771f681u)
        VEXAL_H(c, d, a, b, x11, 16, 0x6d9d6122u)
        VEXAL_H(b, c, d, a, x14, 23, 0xfde5380cu)
        VEXAL_H(a, b, c, d, x1, 4, 0xa4beea44u)
        VEXAL_H(d, a, b, c, x4, 11, 0x4bdecfa9u)
        VEXAL_H(c, d, a, b, x7, 16, 0xf6bb4b60u)
        VEXAL_H(b, c, d, a, x10, 23, 0xbebfbc70u)
        VEXAL_H(a, b, c, d, x13, 4, 0x289b7ec6u)
        VEXAL_H(d, a, b, c, x0, 11, 0xeaa127fau)
        VEXAL_H(c, d, a, b, x3, 16, 0xd4ef3085u)
        VEXAL_H(b, c, d, a, x6, 23, 0x04881d05u)
        VEXAL_H(a, b, c, d, x9, 4, 0xd9d4d039u)
        VEXAL_H(d, a, b, c, x12, 11, 0xe6db99e5u)
        VEXAL_H(c, d, a, b, x15, 16, 0x1fa27cf8u)
        VEXAL_H(b, c, d, a, x2, 23, 0xc4ac5665u)

        VEXAL_I(a, b, c, d, x0, 6, 0xf4292244u)
        VEXAL_I(d, a, b, c, x7, 10, 0x432aff97u)
        VEXAL_I(c, d, a, b, x14, 15, 0xab9423a7u)
        VEXAL_I(b, c, d, a, x5, 21, 0xfc93a039u)
        VEXAL_I(a, b, c, d, x12, 6, 0x655b59c3u)
        VEXAL_I(d, a, b, c, x3, 10, 0x8f0ccc92u)
        VEXAL_I(c, d, a, b, x10, 15, 0xffeff47du)
        VEXAL_I(b, c, d, a, x1, 21, 0x85845dd1u)
        VEXAL_I(a, b, c, d, x8, 6, 0x6fa87e4fu)
        VEXAL_I(d, a, b, c, x15, 10, 0xfe2ce6e0u)
        VEXAL_I(c, d, a, b, x6, 15, 0xa3014314u)
        VEXAL_I(b, c, d, a, x13, 21, 0x4e0811a1u)
        VEXAL_I(a, b, c, d, x4, 6, 0xf7537e82u)
        VEXAL_I(d, a, b, c, x11, 10, 0xbd3af235u)
        VEXAL_I(c, d, a, b, x2, 15, 0x2ad7d2bbu)
        VEXAL_I(b, c, d, a, x9, 21, 0xeb86d391u)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state.a = a;
    state.b = b;
    state.c = c;
    state.d = d;
}

#undef VEXAL_F
#undef VEXAL_G
#undef VEXAL_H
#undef VEXAL_I

void PutBitCount(uint8_t* block, uint32_t totalLength) {
    const uint32_t low = totalLength << 3;
    const uint32_t high = totalLength >> 29;
    memcpy(block + 56, &low, sizeof(low));
    memcpy(block + 60, &high, sizeof(high));
}

} // namespace

Digest DigestStart() {
    return Digest{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
}

Digest ComputeDigest(const void* data, size_t length) {
    return ContinueDigest(DigestStart(), data, length, int64_t(uint32_t(length)));
}

Digest ContinueDigest(const Digest& state, const void* data, size_t length, int64_t totalLength) {
    const uint32_t total = totalLength < 0 ? uint32_t(length) : uint32_t(totalLength);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    Digest result = state;

    const size_t whole = length / 64;
    Compress(result, bytes, whole);
    const size_t rest = length % 64;
    // A piece that ends on a full block gets no padding at all.
    if (rest == 0 && length != 0)
        return result;

    uint8_t block[64];
    if (rest != 0)
        memcpy(block, bytes + whole * 64, rest);
    block[rest] = 0x80;
    memset(block + rest + 1, 0, 63 - rest);
    if (rest <= 56) {
        // With exactly 56 bytes the count overwrites the 0x80 byte; stored digests depend on it.
        PutBitCount(block, total);
        Compress(result, block, 1);
        return result;
    }
    Compress(result, block, 1);
    memset(block, 0, 56);
    PutBitCount(block, total);
    Compress(result, block, 1);
    return result;
}

bool ForEachFileBlock(const WideChar* path, const std::atomic<bool>* stop,
                      const std::function<bool(const uint8_t*, uint32_t, int64_t)>& take) {
    File file;
    if (!file.OpenForReading(path))
        return false;
    // The engine's digest counts the length in 32 bits.
    const int64_t total = int64_t(uint32_t(file.GetSize()));
    uint8_t* block = static_cast<uint8_t*>(malloc(kFileBlockSize));
    bool ok = block != _null;
    bool any = false;
    while (ok) {
        uint32_t got = 0;
        if ((stop && stop->load(std::memory_order_relaxed)) || !file.Read(block, kFileBlockSize, &got)) {
            ok = false;
            break;
        }
        // An empty file is one empty block, which the digest pads as the empty text.
        if (got == 0 && any)
            break;
        any = true;
        ok = take(block, got, total);
        if (got < kFileBlockSize)
            break;
    }
    free(block);
    file.Close();
    return ok;
}

Digest DigestOfFile(const WideChar* path, const std::atomic<bool>* stop) {
    Digest state = DigestStart();
    const bool ok = ForEachFileBlock(path, stop, [&](const uint8_t* data, uint32_t count, int64_t total) {
        state = ContinueDigest(state, data, count, total);
        return true;
    });
    return ok ? state : Digest{0, 0, 0, 0};
}

void DigestToAscii(const Digest& digest, char text[33]) {
    static const char kHex[] = "0123456789abcdef";
    const uint32_t words[4] = {digest.d, digest.c, digest.b, digest.a};
    for (int i = 0; i < 4; ++i) {
        for (int nibble = 0; nibble < 8; ++nibble)
            text[i * 8 + nibble] = kHex[(words[i] >> (28 - 4 * nibble)) & 0xF];
    }
    text[32] = 0;
}

String AsciiDigestText(const char* ascii, int32_t length) {
    WideChar wide[64];
    if (length > 64)
        length = 64;
    for (int32_t i = 0; i < length; ++i)
        wide[i] = WideChar(ascii[i]);
    return String(wide, length);
}

String DigestToText(const Digest& digest) {
    char ascii[33];
    DigestToAscii(digest, ascii);
    return AsciiDigestText(ascii, 32);
}
