// Packed blocks as a package may hold them, unpacked in place the way the loader unpacks a
// fetched block; zlib blocks are compared with zlib's own one-call decoder.
#include <cstring>
#include <vector>
#include <zlib.h>

#include "FuzzSupport.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"

namespace {

// Claimed sizes above this are brought below it (sizes the loader refuses outright are kept), so
// that one input does not allocate gigabytes; the decoders see the same streams either way.
constexpr uint32_t kClaimLimit = 4u << 20;

uint32_t Little32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size > (1u << 20)) return -1;

    std::vector<uint8_t> block(data, data + size);
    const bool packed = size >= kPackedHeaderSize && std::memcmp(data, kPackedMagic, sizeof(kPackedMagic)) == 0;
    uint32_t claimed = packed ? Little32(&block[kPackedSizeOffset]) : 0;
    if (claimed > kClaimLimit && claimed <= kMaxUnpackedSize) {
        claimed %= kClaimLimit;
        for (int i = 0; i < 4; ++i) block[kPackedSizeOffset + i] = uint8_t(claimed >> (8 * i));
    }

    Buffer buffer;
    FUZZ_CHECK(buffer.Set(block.data(), uint32_t(block.size()), true) || block.empty());
    buffer.SetName(u"block");
    const bool unpacked = UnpackBuffer(buffer);
    FUZZ_CHECK(buffer.GetName() == String(u"block"));

    if (!packed) {
        // Plain data stays as it is.
        FUZZ_CHECK(unpacked);
        FUZZ_CHECK(buffer.GetSize() == block.size());
        FUZZ_CHECK(block.empty() || std::memcmp(buffer.GetData(), block.data(), block.size()) == 0);
        return 0;
    }
    if (claimed == 0 || size == kPackedHeaderSize) {
        FUZZ_CHECK(unpacked && buffer.GetSize() == 0);
        return 0;
    }
    if (!unpacked) {
        // A refused block leaves the buffer as it was.
        FUZZ_CHECK(buffer.GetSize() == block.size());
        FUZZ_CHECK(std::memcmp(buffer.GetData(), block.data(), block.size()) == 0);
        if (block[kPackedMethodOffset] != 0 && claimed <= kClaimLimit) {
            std::vector<uint8_t> expected(claimed);
            uLongf expectedSize = claimed;
            FUZZ_CHECK(uncompress(expected.data(), &expectedSize, &block[kPackedHeaderSize],
                                  uLong(size - kPackedHeaderSize)) != Z_OK);
        }
        return 0;
    }
    FUZZ_CHECK(claimed <= kMaxUnpackedSize);
    FUZZ_CHECK(buffer.GetSize() <= claimed);
    FUZZ_CHECK(buffer.GetCursorOffset() == 0);

    if (block[kPackedMethodOffset] != 0) {
        std::vector<uint8_t> expected(claimed);
        uLongf expectedSize = claimed;
        const int status = uncompress(expected.data(), &expectedSize, &block[kPackedHeaderSize],
                                      uLong(size - kPackedHeaderSize));
        FUZZ_CHECK(status == Z_OK);
        FUZZ_CHECK(expectedSize == buffer.GetSize());
        FUZZ_CHECK(expectedSize == 0 || std::memcmp(expected.data(), buffer.GetData(), expectedSize) == 0);
    }
    return 0;
}
