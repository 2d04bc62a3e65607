// Ed25519 signatures (RFC 8032) over OpenSSL's libcrypto: checking with a public key anywhere,
// making keys and signing in the package tool.
#pragma once

#include "Common/Types.h"

class Buffer;

constexpr size_t kEd25519KeySize = 32;
constexpr size_t kEd25519SignatureSize = 64;

struct Ed25519PublicKey {
    uint8_t bytes[kEd25519KeySize];
};

// True when signature is key's signature of the length bytes at message (message may be none
// when length is 0). False for any other signature, including non-canonical ones, and when the
// library fails. Any thread; no state is kept between calls.
bool VerifyEd25519(const Ed25519PublicKey& key, const void* message, size_t length,
                   const uint8_t signature[kEd25519SignatureSize]);

// True for the eight encodings of the points of small order (1, 2, 4 and 8) of the curve. Such a
// "public key" belongs to no secret key: signatures that verify under it can be made by anyone
// for many messages, so it is never a publisher's key.
bool IsSmallOrderEd25519Key(const Ed25519PublicKey& key);

// A secret signing key held by libcrypto. Not copyable; one thread at a time. The key material
// never leaves the library except through WritePem.
class Ed25519SecretKey {
public:
    Ed25519SecretKey();
    ~Ed25519SecretKey();
    Ed25519SecretKey(const Ed25519SecretKey&) = delete;
    Ed25519SecretKey& operator=(const Ed25519SecretKey&) = delete;

    bool IsValid() const { return mKey != _null; }
    // A fresh key from the system's random source; false when the library fails.
    bool Generate();
    // Reads a PEM "PRIVATE KEY" (PKCS#8, unencrypted) of length bytes. False, with no key held,
    // for anything else, including a valid key of another algorithm.
    bool ReadPem(const void* text, size_t length);
    // The key as a PEM "PRIVATE KEY" text (replaces output's contents). False without a key.
    bool WritePem(Buffer& output) const;
    bool GetPublicKey(Ed25519PublicKey& key) const;
    // Signs length bytes; false without a key or when the library fails.
    bool Sign(const void* message, size_t length, uint8_t signature[kEd25519SignatureSize]) const;

private:
    void Release();

    void* mKey; // the library's EVP_PKEY; none when no key is held
};
