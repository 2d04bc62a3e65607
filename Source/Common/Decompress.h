// Packed blocks: decompression (zlib or raw LZMA) in one call, and packing for the package tool.
#pragma once

#include "Common/Types.h"

class Buffer;

// The packed-block layout (little-endian): magic at 0, LZMA properties at 8 (5 bytes), method
// at 15 (0 LZMA, anything else zlib), unpacked size at 16, compressed stream from 20.
constexpr uint32_t kPackedHeaderSize = 20;
constexpr uint32_t kPackedPropertiesOffset = 8;
constexpr uint32_t kPackedMethodOffset = 15;
constexpr uint32_t kPackedSizeOffset = 16;
extern const uint8_t kPackedMagic[8];
// The largest unpacked size accepted: a block claiming more is refused before any allocation
// (the file functions refuse 2 GiB and more too).
constexpr uint32_t kMaxUnpackedSize = 0x7FFFFFFFu;

enum PackMethod : uint8_t {
    kPackLzma = 0,
    kPackZlib = 1,
};

// Decodes input into output in one call. outputLength holds the capacity on entry and the number
// of bytes produced on return. properties: 8 bytes of which the first 5 are the LZMA properties
// (lc/lp/pb byte, dictionary size), read only when lzma is true. zlib: the stream must fit the
// capacity. LZMA: decoding stops at the end marker or when the output is full, whichever comes
// first, so streams with and without an end marker are accepted. On failure logs
// "[FG] Decompress(Zip) Error Code : %d" (zlib's status) or "[FG] Decompress(7z) Error Code : %d"
// (1 damaged data, 2 no memory, 4 unsupported properties, 6 input ended early) and returns false.
bool Decompress(uint8_t* output, size_t* outputLength, const uint8_t* input, size_t inputLength,
                const uint8_t* properties, bool lzma);

// Unpacks a packed block in place. A buffer of fewer than 20 bytes or without the magic is plain
// data: left unchanged, true. A block of exactly 20 bytes or claiming 0 bytes becomes empty,
// true. Otherwise the buffer takes the unpacked bytes (owned, cursor at the start) and true is
// returned; on failure (decoder error, or an unpacked size above kMaxUnpackedSize or that cannot
// be allocated, logged "[FG] Unpack Error : can't allocate %u bytes") false and the buffer is
// left as it was. The buffer's name is kept.
bool UnpackBuffer(Buffer& buffer);

// The unpacked size a block declares, without unpacking it: true with size for a packed block
// (0 for one of exactly 20 bytes, which unpacks to nothing), false for plain data.
bool PackedBlockSize(const uint8_t* data, uint32_t length, uint32_t& size);

// The most a packed block of length bytes can unpack to with its method: deflate gives at most
// 1032 bytes for each byte of stream, LZMA (its likeliest decisions at 11-bit probabilities)
// under 7200. A block declaring more is damaged, whatever its stream holds. 0 for plain data.
uint64_t PackedSizeBound(const uint8_t* data, uint32_t length);

// UnpackBuffer for a block nothing vouches for (the package tool): a block declaring more than
// PackedSizeBound is refused before anything is decoded ("[FG] Unpack Error : %u bytes declared,
// at most %llu possible"), and the output grows with what the stream really holds (from 1 MiB,
// doubling), so memory follows the bytes decoded, never the size merely declared. Results and
// log lines are otherwise UnpackBuffer's.
bool UnpackBufferStepwise(Buffer& buffer);

// Packs input into a packed block in output (replacing its contents; output owns them).
// method kPackZlib: a zlib stream (compress2) at level 0..9 (-1 default). kPackLzma: a raw LZMA1
// stream without end marker, level 0..9 (-1 default 6), its 5 properties at offset 8. Fails
// (output unchanged) for inputs above kMaxUnpackedSize, a bad level or an encoder error.
bool PackBuffer(PackMethod method, int32_t level, const void* input, uint32_t inputLength, Buffer& output);
