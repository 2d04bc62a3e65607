// Delta files: the index's stored form, and making and applying zstd patches.
#include "Source/Common/DeltaFile.h"

#include <cstring>
#include <zstd.h>

const uint8_t kDeltaMagic[8] = {'V', 'X', 'D', 'E', 'L', 'T', 'A', '1'};

namespace {

uint32_t Load32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

void Store32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = uint8_t(value >> (8 * i));
}

Digest LoadDigest(const uint8_t* bytes) {
    return Digest{Load32(bytes), Load32(bytes + 4), Load32(bytes + 8), Load32(bytes + 12)};
}

void StoreDigest(uint8_t* bytes, const Digest& digest) {
    Store32(bytes, digest.a);
    Store32(bytes + 4, digest.b);
    Store32(bytes + 8, digest.c);
    Store32(bytes + 12, digest.d);
}

// Record field offsets.
constexpr uint32_t kOldDigestAt = 64;
constexpr uint32_t kNewDigestAt = 80;
constexpr uint32_t kOffsetAt = 96;
constexpr uint32_t kSizeAt = 104;
constexpr uint32_t kNewSizeAt = 108;

// The window a patch between files of these sizes may use: every byte of the reference stays
// within reach of every byte of the target. Applying decodes into one buffer of the whole
// target, so the window costs the reader no memory of its own.
int WindowLog(uint32_t referenceSize, uint32_t targetSize) {
    const uint64_t span = uint64_t(referenceSize) + targetSize;
    const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
    int log = bounds.lowerBound;
    while (log < bounds.upperBound && (uint64_t(1) << log) < span)
        ++log;
    return log;
}

} // namespace

uint32_t DeltaIndexSize(const uint8_t* data, uint32_t size) {
    if (data == _null || size < kDeltaPreambleSize || memcmp(data, kDeltaMagic, 8) != 0 ||
        Load32(data + 8) != kDeltaVersion)
        return 0;
    const uint32_t count = Load32(data + 12);
    if (count > kMaxDeltaPatches)
        return 0;
    return kDeltaPreambleSize + count * kDeltaRecordSize;
}

bool ReadDeltaIndex(const uint8_t* data, uint32_t size, Array<DeltaPatch>& patches) {
    patches.Clear();
    const uint32_t indexSize = DeltaIndexSize(data, size);
    if (indexSize == 0 || size < indexSize)
        return false;
    const uint8_t* records = data + kDeltaPreambleSize;
    if (ComputeDigest(records, indexSize - kDeltaPreambleSize) != LoadDigest(data + 16))
        return false;
    for (const uint8_t* record = records; record < data + indexSize; record += kDeltaRecordSize) {
        DeltaPatch patch;
        for (int32_t i = 0; i < VEXAL_HEADER_TEXT_UNITS; ++i)
            patch.fileName[i] = WideChar(record[2 * i] | record[2 * i + 1] << 8);
        patch.oldDigest = LoadDigest(record + kOldDigestAt);
        patch.newDigest = LoadDigest(record + kNewDigestAt);
        patch.offset = uint64_t(Load32(record + kOffsetAt)) | uint64_t(Load32(record + kOffsetAt + 4)) << 32;
        patch.size = Load32(record + kSizeAt);
        patch.newSize = Load32(record + kNewSizeAt);
        if (patch.offset < indexSize || patch.size == 0 || patch.newSize > kMaxPatchedFileSize ||
            !patches.Append(patch)) {
            patches.Clear();
            return false;
        }
    }
    return true;
}

int32_t FindDeltaPatch(const Array<DeltaPatch>& patches, const WideChar* name, const Digest& from, const Digest& to) {
    for (int32_t i = 0; i < patches.GetCount(); ++i) {
        const DeltaPatch& patch = patches[i];
        if (patch.oldDigest != from || patch.newDigest != to)
            continue;
        int32_t unit = 0;
        while (unit < VEXAL_HEADER_TEXT_UNITS && patch.fileName[unit] == name[unit] && name[unit] != 0)
            ++unit;
        if (unit == VEXAL_HEADER_TEXT_UNITS || (patch.fileName[unit] == 0 && name[unit] == 0))
            return i;
    }
    return -1;
}

bool WriteDeltaIndex(const Array<DeltaPatch>& patches, Buffer& output) {
    const uint32_t count = uint32_t(patches.GetCount());
    if (count > kMaxDeltaPatches || !output.Allocate(kDeltaPreambleSize + count * kDeltaRecordSize))
        return false;
    uint8_t* data = output.GetData();
    memset(data, 0, output.GetSize());
    memcpy(data, kDeltaMagic, 8);
    Store32(data + 8, kDeltaVersion);
    Store32(data + 12, count);
    for (uint32_t n = 0; n < count; ++n) {
        const DeltaPatch& patch = patches[int32_t(n)];
        uint8_t* record = data + kDeltaPreambleSize + n * kDeltaRecordSize;
        for (int32_t i = 0; i < VEXAL_HEADER_TEXT_UNITS; ++i) {
            record[2 * i] = uint8_t(patch.fileName[i]);
            record[2 * i + 1] = uint8_t(patch.fileName[i] >> 8);
        }
        StoreDigest(record + kOldDigestAt, patch.oldDigest);
        StoreDigest(record + kNewDigestAt, patch.newDigest);
        Store32(record + kOffsetAt, uint32_t(patch.offset));
        Store32(record + kOffsetAt + 4, uint32_t(patch.offset >> 32));
        Store32(record + kSizeAt, patch.size);
        Store32(record + kNewSizeAt, patch.newSize);
    }
    StoreDigest(data + 16, ComputeDigest(data + kDeltaPreambleSize, output.GetSize() - kDeltaPreambleSize));
    return true;
}

bool MakePatch(const uint8_t* reference, uint32_t referenceSize, const uint8_t* target, uint32_t targetSize,
               int32_t level, Buffer& patch) {
    patch.Clear();
    if (referenceSize > kMaxPatchedFileSize || targetSize > kMaxPatchedFileSize || level < 1 ||
        level > ZSTD_maxCLevel())
        return false;
    ZSTD_CCtx* context = ZSTD_createCCtx();
    if (context == _null)
        return false;
    const size_t bound = ZSTD_compressBound(targetSize);
    bool made = bound <= kMaxPatchedFileSize * 2u && patch.Allocate(uint32_t(bound));
    made = made && !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, WindowLog(referenceSize, targetSize))) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0)) &&
           !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(context, targetSize));
    // Two workers where the library has threads; a library without them makes the same patch on
    // one thread.
    if (made)
        ZSTD_CCtx_setParameter(context, ZSTD_c_nbWorkers, 2);
    made = made && (referenceSize == 0 || !ZSTD_isError(ZSTD_CCtx_refPrefix(context, reference, referenceSize)));
    if (made) {
        const size_t written = ZSTD_compress2(context, patch.GetData(), patch.GetSize(), target, targetSize);
        made = !ZSTD_isError(written) && patch.Resize(uint32_t(written));
    }
    ZSTD_freeCCtx(context);
    if (!made)
        patch.Clear();
    return made;
}

bool ApplyPatch(const uint8_t* reference, uint32_t referenceSize, const uint8_t* patch, uint32_t patchSize,
                uint32_t targetSize, Buffer& output) {
    output.Clear();
    if (referenceSize > kMaxPatchedFileSize || targetSize > kMaxPatchedFileSize || patch == _null)
        return false;
    // The frame must announce exactly the size the index gave before anything is allocated.
    if (ZSTD_getFrameContentSize(patch, patchSize) != targetSize ||
        ZSTD_findFrameCompressedSize(patch, patchSize) != patchSize)
        return false;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (context == _null)
        return false;
    bool applied =
        !ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, WindowLog(referenceSize, targetSize))) &&
        (referenceSize == 0 || !ZSTD_isError(ZSTD_DCtx_refPrefix(context, reference, referenceSize))) &&
        output.Allocate(targetSize);
    if (applied) {
        const size_t written = ZSTD_decompressDCtx(context, output.GetData(), targetSize, patch, patchSize);
        applied = !ZSTD_isError(written) && written == targetSize;
    }
    ZSTD_freeDCtx(context);
    if (!applied)
        output.Clear();
    return applied;
}
