// SHA-256 through libcrypto's EVP interface (which picks the CPU's SHA instructions itself).
#include "Source/Common/Sha256.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>

#include "Source/Platform/File.h"

namespace {

// FileDigests' read size: a multiple of 64, so the engine's digest chains over the pieces.
constexpr uint32_t kFileBlockSize = 65536;

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
    File file;
    if (!file.OpenForReading(path))
        return false;
    // The engine's digest counts the length in 32 bits, as DigestOfFile does.
    const int64_t total = int64_t(uint32_t(file.GetSize()));
    uint8_t* block = static_cast<uint8_t*>(malloc(kFileBlockSize));
    Sha256 hash;
    bool ok = block != _null;
    Digest state = DigestStart();
    bool first = true;
    while (ok) {
        uint32_t got = 0;
        if ((stop && stop->load(std::memory_order_relaxed)) || !file.Read(block, kFileBlockSize, &got)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        state = ContinueDigest(state, block, got, total);
        first = false;
        ok = hash.Add(block, got);
        if (got < kFileBlockSize)
            break;
    }
    free(block);
    file.Close();
    Sha256Digest computed;
    if (!ok || !hash.Finish(computed))
        return false;
    digest = first ? ComputeDigest(_null, 0) : state;
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
