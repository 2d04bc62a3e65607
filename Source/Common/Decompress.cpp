// Packed blocks: one-call decoding with zlib or raw LZMA (liblzma), unpacking in place, packing.
#include "Source/Common/Decompress.h"

#include <cstdlib>
#include <cstring>
#include <lzma.h>
#include <zlib.h>

#include "Source/Common/Buffer.h"
#include "Source/Platform/Log.h"

const uint8_t kPackedMagic[8] = {0xF7, 0xF4, 0xE4, 0xC8, 0xCA, 0xD7, 0xD5, 0xC2};

namespace {

// The LZMA decoder's status codes, as the package format has always reported them.
enum LzmaStatus : int32_t {
    kLzmaOk = 0,
    kLzmaDamaged = 1,
    kLzmaNoMemory = 2,
    kLzmaUnsupported = 4,
    kLzmaInputEnded = 6,
};

constexpr size_t kLzmaPropertiesSize = 5;
constexpr uint32_t kLzmaMinimumDictionary = 4096;

int32_t StatusOf(lzma_ret result) {
    switch (result) {
    case LZMA_OK:
    case LZMA_STREAM_END:
        return kLzmaOk;
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
        return kLzmaNoMemory;
    case LZMA_OPTIONS_ERROR:
        return kLzmaUnsupported;
    case LZMA_BUF_ERROR:
        return kLzmaInputEnded;
    default:
        return kLzmaDamaged;
    }
}

// Decodes a raw LZMA1 stream until its end marker or until the output is full, whichever comes
// first; a stream that runs out before either is cut short.
int32_t DecodeLzma(uint8_t* output, size_t* outputLength, const uint8_t* input, size_t inputLength,
                   const uint8_t* properties) {
    const size_t capacity = *outputLength;
    *outputLength = 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, _null}, {LZMA_VLI_UNKNOWN, _null}};
    lzma_ret result = lzma_properties_decode(&filters[0], _null, properties, kLzmaPropertiesSize);
    if (result != LZMA_OK)
        return StatusOf(result);
    // The dictionary never needs to exceed the whole output; a block claiming a huge dictionary
    // must not make the decoder reserve it.
    lzma_options_lzma* options = static_cast<lzma_options_lzma*>(filters[0].options);
    const size_t dictionaryNeeded = capacity < kLzmaMinimumDictionary ? kLzmaMinimumDictionary : capacity;
    if (options->dict_size > dictionaryNeeded)
        options->dict_size = uint32_t(dictionaryNeeded);

    lzma_stream stream = LZMA_STREAM_INIT;
    result = lzma_raw_decoder(&stream, filters);
    free(filters[0].options);
    if (result != LZMA_OK)
        return StatusOf(result);

    stream.next_in = input;
    stream.avail_in = inputLength;
    stream.next_out = output;
    stream.avail_out = capacity;
    int32_t status = kLzmaOk;
    while (stream.avail_out != 0) {
        const size_t inBefore = stream.avail_in;
        const size_t outBefore = stream.avail_out;
        result = lzma_code(&stream, LZMA_RUN);
        if (result == LZMA_STREAM_END)
            break;
        if (result != LZMA_OK) {
            status = StatusOf(result);
            break;
        }
        if (stream.avail_in == inBefore && stream.avail_out == outBefore) {
            status = kLzmaInputEnded;
            break;
        }
    }
    *outputLength = capacity - stream.avail_out;
    lzma_end(&stream);
    return status;
}

uint32_t ReadLittle32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

void WriteLittle32(uint8_t* bytes, uint32_t value) {
    bytes[0] = uint8_t(value);
    bytes[1] = uint8_t(value >> 8);
    bytes[2] = uint8_t(value >> 16);
    bytes[3] = uint8_t(value >> 24);
}

// Fills the 20-byte header of a packed block.
void WriteHeader(uint8_t* block, PackMethod method, const uint8_t* properties, uint32_t unpackedSize) {
    memcpy(block, kPackedMagic, sizeof(kPackedMagic));
    memset(block + kPackedPropertiesOffset, 0, 8);
    if (properties != _null)
        memcpy(block + kPackedPropertiesOffset, properties, kLzmaPropertiesSize);
    block[kPackedMethodOffset] = method == kPackLzma ? 0 : 1;
    WriteLittle32(block + kPackedSizeOffset, unpackedSize);
}

bool PackZlib(int32_t level, const uint8_t* input, uint32_t inputLength, Buffer& packed) {
    if (level < -1 || level > 9)
        return false;
    uLongf length = compressBound(inputLength);
    if (!packed.Allocate(uint32_t(kPackedHeaderSize + length)))
        return false;
    if (compress2(packed.GetData() + kPackedHeaderSize, &length, input, inputLength, level) != Z_OK)
        return false;
    WriteHeader(packed.GetData(), kPackZlib, _null, inputLength);
    return packed.Resize(uint32_t(kPackedHeaderSize + length));
}

bool PackLzma(int32_t level, const uint8_t* input, uint32_t inputLength, Buffer& packed) {
    if (level < -1 || level > 9)
        return false;
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, level < 0 ? LZMA_PRESET_DEFAULT : uint32_t(level)))
        return false;
    // The size lives in the block header, so the stream carries no end marker.
    options.ext_flags = 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, _null}};
    uint8_t properties[kLzmaPropertiesSize];
    lzma_filter plain = {LZMA_FILTER_LZMA1, &options};
    if (lzma_properties_encode(&plain, properties) != LZMA_OK)
        return false;

    const uint64_t bound = uint64_t(inputLength) + inputLength / 16 + 4096;
    if (kPackedHeaderSize + bound > 0xFFFFFFFFu || !packed.Allocate(uint32_t(kPackedHeaderSize + bound)))
        return false;
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK)
        return false;
    stream.next_in = input;
    stream.avail_in = inputLength;
    stream.next_out = packed.GetData() + kPackedHeaderSize;
    stream.avail_out = size_t(bound);
    lzma_ret result;
    do {
        result = lzma_code(&stream, LZMA_FINISH);
    } while (result == LZMA_OK && stream.avail_out != 0);
    const size_t produced = size_t(bound) - stream.avail_out;
    lzma_end(&stream);
    if (result != LZMA_STREAM_END)
        return false;
    WriteHeader(packed.GetData(), kPackLzma, properties, inputLength);
    return packed.Resize(uint32_t(kPackedHeaderSize + produced));
}

} // namespace

bool Decompress(uint8_t* output, size_t* outputLength, const uint8_t* input, size_t inputLength,
                const uint8_t* properties, bool lzma) {
    if (lzma) {
        const int32_t status = DecodeLzma(output, outputLength, input, inputLength, properties);
        if (status != kLzmaOk) {
            LogFailure(u"[FG] Decompress(7z) Error Code : %d", status);
            return false;
        }
        return true;
    }
    uLongf length = uLongf(*outputLength);
    const int status = uncompress(output, &length, input, uLong(inputLength));
    *outputLength = size_t(length);
    if (status != Z_OK) {
        LogFailure(u"[FG] Decompress(Zip) Error Code : %d", status);
        return false;
    }
    return true;
}

bool UnpackBuffer(Buffer& buffer) {
    const uint32_t size = buffer.GetSize();
    const uint8_t* data = buffer.GetData();
    if (size < kPackedHeaderSize || memcmp(data, kPackedMagic, sizeof(kPackedMagic)) != 0)
        return true;
    const uint32_t unpackedSize = ReadLittle32(data + kPackedSizeOffset);
    if (unpackedSize == 0 || size == kPackedHeaderSize) {
        buffer.Clear();
        return true;
    }

    Buffer unpacked;
    if (unpackedSize > kMaxUnpackedSize || !unpacked.Allocate(unpackedSize)) {
        LogFailure(u"[FG] Unpack Error : can't allocate %u bytes", unpackedSize);
        return false;
    }
    size_t produced = unpackedSize;
    const bool lzma = data[kPackedMethodOffset] == 0;
    if (!Decompress(unpacked.GetData(), &produced, data + kPackedHeaderSize, size - kPackedHeaderSize,
                    data + kPackedPropertiesOffset, lzma))
        return false;
    // A stream may end (at its end marker) before the size its header claims.
    if (produced != unpackedSize && !unpacked.Resize(uint32_t(produced))) {
        LogFailure(u"[FG] Unpack Error : can't allocate %u bytes", uint32_t(produced));
        return false;
    }
    unpacked.SetCursorOffset(0);
    unpacked.SetName(buffer.GetName());
    buffer.Swap(unpacked);
    return true;
}

bool PackedBlockSize(const uint8_t* data, uint32_t length, uint32_t& size) {
    if (data == _null || length < kPackedHeaderSize || memcmp(data, kPackedMagic, sizeof(kPackedMagic)) != 0)
        return false;
    size = length == kPackedHeaderSize ? 0 : ReadLittle32(data + kPackedSizeOffset);
    return true;
}

uint64_t PackedSizeBound(const uint8_t* data, uint32_t length) {
    uint32_t declared = 0;
    if (!PackedBlockSize(data, length, declared))
        return 0;
    const uint64_t stream = length - kPackedHeaderSize;
    // A longest match (258 bytes) costs deflate at least two bits; an LZMA repeated match of 273
    // bytes takes 14 decisions of at least 0.0219 bits each.
    return data[kPackedMethodOffset] == 0 ? stream * 7200 : stream * 1032;
}

namespace {

constexpr uint32_t kFirstStep = 1u << 20;

// The output of a stepwise decoder: grows by doubling up to the declared size.
struct GrowingOutput {
    Buffer mData;
    uint32_t mDeclared;
    uint32_t mProduced = 0;

    // Room after what was produced; false when the declared size is reached or memory lacks.
    bool Grow() {
        const uint32_t size = mData.GetSize();
        if (size >= mDeclared)
            return false;
        const uint64_t next = size == 0 ? kFirstStep : uint64_t(size) * 2;
        const uint32_t wanted = next > mDeclared ? mDeclared : uint32_t(next);
        if (!mData.Resize(wanted)) {
            LogFailure(u"[FG] Unpack Error : can't allocate %u bytes", wanted);
            return false;
        }
        return true;
    }
};

// inflate in steps; uncompress's statuses for the same faults (the stream needs more room than
// declared, or its input ends: Z_BUF_ERROR).
bool InflateStepwise(GrowingOutput& out, const uint8_t* input, size_t inputLength) {
    z_stream stream;
    memset(&stream, 0, sizeof(stream));
    int status = inflateInit(&stream);
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = uInt(inputLength);
    uint8_t spare = 0;
    while (status == Z_OK) {
        // Once the declared size is reached, one spare byte tells a stream that still has its
        // end to read from one that holds more than declared.
        const bool full = out.mProduced == out.mData.GetSize() && !out.Grow();
        stream.next_out = full ? &spare : out.mData.GetData() + out.mProduced;
        stream.avail_out = full ? 1 : out.mData.GetSize() - out.mProduced;
        const uInt before = stream.avail_out;
        status = inflate(&stream, Z_NO_FLUSH);
        if (full && stream.avail_out == 0) {
            status = Z_BUF_ERROR;
            break;
        }
        out.mProduced += full ? 0 : before - stream.avail_out;
        if (status == Z_BUF_ERROR)
            status = stream.avail_out != 0 || full ? Z_DATA_ERROR : Z_OK; // the input ended early
    }
    inflateEnd(&stream);
    if (status == Z_STREAM_END)
        return true;
    LogFailure(u"[FG] Decompress(Zip) Error Code : %d", status == Z_NEED_DICT ? Z_DATA_ERROR : status);
    return false;
}

// The LZMA decoder in steps: ends at the end marker or at the declared size.
bool DecodeLzmaStepwise(GrowingOutput& out, const uint8_t* input, size_t inputLength, const uint8_t* properties) {
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, _null}, {LZMA_VLI_UNKNOWN, _null}};
    lzma_ret result = lzma_properties_decode(&filters[0], _null, properties, kLzmaPropertiesSize);
    int32_t status = StatusOf(result);
    lzma_stream stream = LZMA_STREAM_INIT;
    if (result == LZMA_OK) {
        // No match reaches further back than the declared output: the dictionary never needs
        // to be larger.
        lzma_options_lzma* options = static_cast<lzma_options_lzma*>(filters[0].options);
        const uint32_t cap = out.mDeclared < kFirstStep ? kFirstStep : out.mDeclared;
        if (options->dict_size > cap)
            options->dict_size = cap;
        result = lzma_raw_decoder(&stream, filters);
        free(filters[0].options);
        status = StatusOf(result);
    }
    stream.next_in = input;
    stream.avail_in = inputLength;
    while (status == kLzmaOk && out.mProduced < out.mDeclared) {
        if (out.mProduced == out.mData.GetSize() && !out.Grow()) {
            status = kLzmaNoMemory;
            break;
        }
        stream.next_out = out.mData.GetData() + out.mProduced;
        stream.avail_out = out.mData.GetSize() - out.mProduced;
        const size_t inBefore = stream.avail_in;
        const size_t outBefore = stream.avail_out;
        result = lzma_code(&stream, LZMA_RUN);
        out.mProduced += uint32_t(outBefore - stream.avail_out);
        if (result == LZMA_STREAM_END)
            break;
        status = StatusOf(result);
        if (status == kLzmaOk && stream.avail_in == inBefore && stream.avail_out == outBefore)
            status = kLzmaInputEnded;
    }
    lzma_end(&stream);
    if (status == kLzmaOk)
        return true;
    LogFailure(u"[FG] Decompress(7z) Error Code : %d", status);
    return false;
}

} // namespace

bool UnpackBufferStepwise(Buffer& buffer) {
    const uint32_t size = buffer.GetSize();
    const uint8_t* data = buffer.GetData();
    uint32_t declared = 0;
    if (!PackedBlockSize(data, size, declared))
        return true;
    if (declared == 0) {
        buffer.Clear();
        return true;
    }
    const uint64_t bound = PackedSizeBound(data, size);
    if (declared > bound || declared > kMaxUnpackedSize) {
        LogFailure(u"[FG] Unpack Error : %u bytes declared, at most %llu possible", declared,
                   (unsigned long long)(bound < kMaxUnpackedSize ? bound : kMaxUnpackedSize));
        return false;
    }
    GrowingOutput out;
    out.mDeclared = declared;
    const bool ok = data[kPackedMethodOffset] == 0
                        ? DecodeLzmaStepwise(out, data + kPackedHeaderSize, size - kPackedHeaderSize,
                                             data + kPackedPropertiesOffset)
                        : InflateStepwise(out, data + kPackedHeaderSize, size - kPackedHeaderSize);
    if (!ok)
        return false;
    if (!out.mData.Resize(out.mProduced)) {
        LogFailure(u"[FG] Unpack Error : can't allocate %u bytes", out.mProduced);
        return false;
    }
    out.mData.SetCursorOffset(0);
    out.mData.SetName(buffer.GetName());
    buffer.Swap(out.mData);
    return true;
}

bool PackBuffer(PackMethod method, int32_t level, const void* input, uint32_t inputLength, Buffer& output) {
    if (inputLength > kMaxUnpackedSize || (input == _null && inputLength != 0))
        return false;
    Buffer packed;
    const uint8_t* bytes = static_cast<const uint8_t*>(input);
    const bool ok = method == kPackLzma ? PackLzma(level, bytes, inputLength, packed)
                                        : PackZlib(level, bytes, inputLength, packed);
    if (!ok)
        return false;
    packed.SetCursorOffset(0);
    packed.SetName(output.GetName());
    output.Swap(packed);
    return true;
}
