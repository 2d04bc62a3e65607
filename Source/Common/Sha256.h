// SHA-256 (FIPS 180-4) over OpenSSL's libcrypto: whole inputs, pieces in any sizes, files, and
// its 64-character text. The digest that binds a signed package's header and module files.
#pragma once

#include <atomic>

#include "Common/Types.h"
#include "Source/Common/Digest.h"

struct Sha256Digest {
    uint8_t bytes[32];

    bool operator==(const Sha256Digest& other) const;
    bool operator!=(const Sha256Digest& other) const { return !(*this == other); }
};

// An incremental SHA-256: Add pieces of any length in order, then Finish. One object serves
// one thread at a time; different objects may run on different threads at once. When the
// library cannot set the hash up (no memory), every call fails and Finish returns false, so a
// failure never passes for a digest.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Starts a new input (Finish does not need to have been called).
    bool Reset();
    // data may be none only when length is 0.
    bool Add(const void* data, size_t length);
    // The digest of everything added since the last Reset; the object is then reset.
    bool Finish(Sha256Digest& digest);

private:
    void* mContext; // the library's EVP_MD_CTX; none when it could not be made
    bool mReady;    // a digest is open (Reset succeeded and nothing failed since)
};

// The digest of length bytes in one call; false only when the library fails.
bool ComputeSha256(const void* data, size_t length, Sha256Digest& digest);

// Both digests of a file's contents in one read, in blocks of 65536 bytes: the engine's digest
// (as DigestOfFile gives it) and SHA-256. False (digest all four words 0) when the file cannot
// be opened or a read fails, and when stop is given and becomes true before the end (checked
// between blocks). Any thread.
bool FileDigests(const WideChar* path, Digest& digest, Sha256Digest& sha256, const std::atomic<bool>* stop = _null);

// 64 lower-case hexadecimal characters and a terminator (65 bytes).
void Sha256ToAscii(const Sha256Digest& digest, char text[65]);
String Sha256ToText(const Sha256Digest& digest);
// Reads exactly 64 lower-case hexadecimal characters (the form Sha256ToAscii writes; upper
// case is refused so that one digest has one text). False for anything else.
bool Sha256FromAscii(const char* text, size_t length, Sha256Digest& digest);
