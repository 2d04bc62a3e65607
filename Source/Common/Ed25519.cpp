// Ed25519 through libcrypto's EVP interface (one-shot EVP_DigestSign / EVP_DigestVerify).
#include "Source/Common/Ed25519.h"

#include <cstring>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "Source/Common/Buffer.h"

namespace {

EVP_PKEY* Key(void* key) { return static_cast<EVP_PKEY*>(key); }

} // namespace

bool IsSmallOrderEd25519Key(const Ed25519PublicKey& key) {
    // The identity, the point of order 2, the two of order 4 and the four of order 8.
    // clang-format off
    static const uint8_t kSmallOrder[8][kEd25519KeySize] = {
        {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0xec, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
         0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80},
        {0xc7, 0x17, 0x6a, 0x70, 0x3d, 0x4d, 0xd8, 0x4f, 0xba, 0x3c, 0x0b, 0x76, 0x0d, 0x10, 0x67, 0x0f,
         0x2a, 0x20, 0x53, 0xfa, 0x2c, 0x39, 0xcc, 0xc6, 0x4e, 0xc7, 0xfd, 0x77, 0x92, 0xac, 0x03, 0x7a},
        {0xc7, 0x17, 0x6a, 0x70, 0x3d, 0x4d, 0xd8, 0x4f, 0xba, 0x3c, 0x0b, 0x76, 0x0d, 0x10, 0x67, 0x0f,
         0x2a, 0x20, 0x53, 0xfa, 0x2c, 0x39, 0xcc, 0xc6, 0x4e, 0xc7, 0xfd, 0x77, 0x92, 0xac, 0x03, 0xfa},
        {0x26, 0xe8, 0x95, 0x8f, 0xc2, 0xb2, 0x27, 0xb0, 0x45, 0xc3, 0xf4, 0x89, 0xf2, 0xef, 0x98, 0xf0,
         0xd5, 0xdf, 0xac, 0x05, 0xd3, 0xc6, 0x33, 0x39, 0xb1, 0x38, 0x02, 0x88, 0x6d, 0x53, 0xfc, 0x05},
        {0x26, 0xe8, 0x95, 0x8f, 0xc2, 0xb2, 0x27, 0xb0, 0x45, 0xc3, 0xf4, 0x89, 0xf2, 0xef, 0x98, 0xf0,
         0xd5, 0xdf, 0xac, 0x05, 0xd3, 0xc6, 0x33, 0x39, 0xb1, 0x38, 0x02, 0x88, 0x6d, 0x53, 0xfc, 0x85},
    };
    // clang-format on
    for (const uint8_t* encoding : kSmallOrder) {
        if (memcmp(encoding, key.bytes, kEd25519KeySize) == 0)
            return true;
    }
    return false;
}

bool VerifyEd25519(const Ed25519PublicKey& key, const void* message, size_t length,
                   const uint8_t signature[kEd25519SignatureSize]) {
    if (signature == _null || (message == _null && length != 0))
        return false;
    static const uint8_t kNothing = 0;
    EVP_PKEY* publicKey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, _null, key.bytes, sizeof(key.bytes));
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool verified = publicKey != _null && context != _null &&
                    EVP_DigestVerifyInit(context, _null, _null, _null, publicKey) == 1 &&
                    EVP_DigestVerify(context, signature, kEd25519SignatureSize,
                                     length != 0 ? static_cast<const uint8_t*>(message) : &kNothing, length) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(publicKey);
    return verified;
}

Ed25519SecretKey::Ed25519SecretKey() : mKey(_null) {}

Ed25519SecretKey::~Ed25519SecretKey() {
    Release();
}

void Ed25519SecretKey::Release() {
    EVP_PKEY_free(Key(mKey));
    mKey = _null;
}

bool Ed25519SecretKey::Generate() {
    Release();
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, _null);
    EVP_PKEY* key = _null;
    if (context != _null && EVP_PKEY_keygen_init(context) == 1 && EVP_PKEY_keygen(context, &key) == 1)
        mKey = key;
    EVP_PKEY_CTX_free(context);
    return mKey != _null;
}

bool Ed25519SecretKey::ReadPem(const void* text, size_t length) {
    Release();
    if (text == _null || length == 0 || length > 0x7FFFFFFF)
        return false;
    BIO* in = BIO_new_mem_buf(text, int(length));
    // No password callback and an empty password: an encrypted key is refused, never prompted for.
    EVP_PKEY* key = in != _null ? PEM_read_bio_PrivateKey(in, _null, _null, const_cast<char*>("")) : _null;
    BIO_free(in);
    if (key != _null && EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        key = _null;
    }
    mKey = key;
    return mKey != _null;
}

bool Ed25519SecretKey::WritePem(Buffer& output) const {
    output.Clear();
    if (mKey == _null)
        return false;
    BIO* out = BIO_new(BIO_s_mem());
    char* data = _null;
    long size = 0;
    bool written = out != _null && PEM_write_bio_PrivateKey(out, Key(mKey), _null, _null, 0, _null, _null) == 1 &&
                   (size = BIO_get_mem_data(out, &data)) > 0 && output.Set(data, uint32_t(size), true);
    // The memory BIO held the secret key: wipe it before it goes back to the heap.
    if (data != _null && size > 0)
        OPENSSL_cleanse(data, size_t(size));
    BIO_free(out);
    return written;
}

bool Ed25519SecretKey::GetPublicKey(Ed25519PublicKey& key) const {
    size_t length = sizeof(key.bytes);
    return mKey != _null && EVP_PKEY_get_raw_public_key(Key(mKey), key.bytes, &length) == 1 &&
           length == sizeof(key.bytes);
}

bool Ed25519SecretKey::Sign(const void* message, size_t length, uint8_t signature[kEd25519SignatureSize]) const {
    if (mKey == _null || signature == _null || (message == _null && length != 0))
        return false;
    static const uint8_t kNothing = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t size = kEd25519SignatureSize;
    bool signed_ = context != _null && EVP_DigestSignInit(context, _null, _null, _null, Key(mKey)) == 1 &&
                   EVP_DigestSign(context, signature, &size,
                                  length != 0 ? static_cast<const uint8_t*>(message) : &kNothing, length) == 1 &&
                   size == kEd25519SignatureSize;
    EVP_MD_CTX_free(context);
    return signed_;
}
