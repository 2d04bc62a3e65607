// The engine's digest: an MD5 variant over whole inputs or chained pieces, and its text form.
#pragma once

#include <atomic>
#include <functional>

#include "Common/Types.h"
#include "Source/Common/String.h"

// The MD5 chaining state. All four words 0 stands for a file that cannot be read.
struct Digest {
    uint32_t a;
    uint32_t b;
    uint32_t c;
    uint32_t d;

    bool operator==(const Digest& other) const {
        return a == other.a && b == other.b && c == other.c && d == other.d;
    }
    bool operator!=(const Digest& other) const { return !(*this == other); }
    bool IsZero() const { return (a | b | c | d) == 0; }
};

// The start state (RFC 1321's initial words).
Digest DigestStart();

// The digest of length bytes: ContinueDigest from the start state with the length as the total.
// Differs from RFC 1321 for lengths that are a non-zero multiple of 64 (no padding block) and
// for lengths 56 more than a multiple of 64 (the bit count overwrites the 0x80 byte); stored
// packages rely on both. data may be none only when length is 0.
Digest ComputeDigest(const void* data, size_t length);

// Processes one piece of an input and returns the new state. Every piece but the last must be a
// multiple of 64 bytes long; each call is given the whole input's length as totalLength (-1
// means this piece's length). Padding is added where the piece ends short of a full block, so
// only the last piece gets it. The bit count uses the low 32 bits of the total length.
Digest ContinueDigest(const Digest& state, const void* data, size_t length, int64_t totalLength = -1);

// Reads a file from its start in blocks of 65536 bytes (the whole file is never held; an empty
// file is one empty block), handing each to take with the file's size as the engine's digest
// counts it (32 bits). False when the file cannot be opened or a read fails, when take returns
// false, and when stop is given and becomes true before the end (checked between blocks).
bool ForEachFileBlock(const WideChar* path, const std::atomic<bool>* stop,
                      const std::function<bool(const uint8_t*, uint32_t, int64_t)>& take);

// The digest of a file's contents, read in blocks of 65536 bytes (the whole file is never held).
// All four words 0 when the file cannot be opened or a read fails, and when stop is given and
// becomes true before the end (checked between blocks: a digest nobody waits for any more ends
// within one block).
Digest DigestOfFile(const WideChar* path, const std::atomic<bool>* stop = _null);

// 32 lower-case hexadecimal characters: the words D, C, B, A each printed "%.8x" (RFC 1321's
// digest with its 16 bytes in reverse order).
String DigestToText(const Digest& digest);
// Writes the same 32 characters and a terminator into text (33 bytes).
void DigestToAscii(const Digest& digest, char text[33]);
// The first length characters of an ASCII digest text as engine text (each byte one unit).
String AsciiDigestText(const char* ascii, int32_t length);
