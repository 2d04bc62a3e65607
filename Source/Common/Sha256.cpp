// SHA-256 through libcrypto's EVP interface (which picks the CPU's SHA instructions itself).
#include "Source/Common/Sha256.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>

namespace {

EVP_MD_CTX* Context(void* context) { return static_cast<EVP_MD_CTX*>(context); }

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool Sha256Digest::operator==(const Sha256Digest& other) const {
    return memcmp(bytes, other.bytes, sizeof(bytes)) == 0;
}

Sha256::Sha256() : mContext(EVP_MD_CTX_new()), mReady(false) {
    Reset();
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(Context(mContext));
}

bool Sha256::Reset() {
    mReady = mContext != _null && EVP_DigestInit_ex(Context(mContext), EVP_sha256(), _null) == 1;
    return mReady;
}

bool Sha256::Add(const void* data, size_t length) {
    if (!mReady)
        return false;
    if (length == 0)
        return true;
    if (data == _null || EVP_DigestUpdate(Context(mContext), data, length) != 1)
        mReady = false;
    return mReady;
}

bool Sha256::Finish(Sha256Digest& digest) {
    unsigned int length = 0;
    const bool done = mReady && EVP_DigestFinal_ex(Context(mContext), digest.bytes, &length) == 1 &&
                      length == sizeof(digest.bytes);
    Reset();
    if (!done)
        memset(digest.bytes, 0, sizeof(digest.bytes));
    return done;
}

bool ComputeSha256(const void* data, size_t length, Sha256Digest& digest) {
    Sha256 hash;
    return hash.Add(data, length) && hash.Finish(digest);
}

bool FileDigests(const WideChar* path, Digest& digest, Sha256Digest& sha256, const std::atomic<bool>* stop) {
    digest = Digest{0, 0, 0, 0};
    memset(sha256.bytes, 0, sizeof(sha256.bytes));
    Sha256 hash;
    Digest state = DigestStart();
    const bool ok = ForEachFileBlock(path, stop, [&](const uint8_t* data, uint32_t count, int64_t total) {
        state = ContinueDigest(state, data, count, total);
        return hash.Add(data, count);
    });
    Sha256Digest computed;
    if (!ok || !hash.Finish(computed))
        return false;
    digest = state;
    sha256 = computed;
    return true;
}

void Sha256ToAscii(const Sha256Digest& digest, char text[65]) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        text[2 * i] = kHex[digest.bytes[i] >> 4];
        text[2 * i + 1] = kHex[digest.bytes[i] & 0xF];
    }
    text[64] = 0;
}

String Sha256ToText(const Sha256Digest& digest) {
    char ascii[65];
    Sha256ToAscii(digest, ascii);
    return AsciiDigestText(ascii, 64);
}

bool Sha256FromAscii(const char* text, size_t length, Sha256Digest& digest) {
    if (text == _null || length != 64)
        return false;
    Sha256Digest read;
    for (int i = 0; i < 32; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        read.bytes[i] = uint8_t(high << 4 | low);
    }
    digest = read;
    return true;
}
