// Delta files: zstd patches from the module files of earlier packages to those of a new one, and
// the index that names them. The package tool writes them ("PKG.delta" beside PKG); the loader
// reads the index and applies one patch to a cached file instead of fetching the whole block.
// Every function is pure apart from its outputs: any thread.
#pragma once

#include "Common/Array.h"
#include "Common/Types.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/Digest.h"
#include "Vexal3DLoader.h"

// The stored form, little-endian:
//   preamble (32 bytes): magic "VXDELTA1", format version (1), patch count, and the digest of
//   the records that follow (16 bytes, the engine's digest of count x 112 bytes);
//   records (112 bytes each): module file name (32 UTF-16 units, NUL-padded), the old content's
//   digest, the new content's digest (16 bytes each, words A to D), the patch's offset in the
//   delta file (64-bit), the patch's size and the new content's size (32-bit each);
//   the patches, each a zstd frame that rebuilds the new content with the old one as its prefix.
constexpr uint32_t kDeltaPreambleSize = 32;
constexpr uint32_t kDeltaRecordSize = 112;
constexpr uint32_t kDeltaVersion = 1;
extern const uint8_t kDeltaMagic[8];
// The most patches one index may name: eight modules from each of 32 older packages. The index
// the loader asks for is thereby capped at 32 + 256 x 112 bytes.
constexpr uint32_t kMaxDeltaPatches = 256;
// The largest file a patch is made for or applied to: a patch is applied with the old content
// and the new one both in memory, so each stays well within what the process can hold twice
// beside the loader itself (a 32-bit process has 2 GiB of address space in all).
constexpr uint32_t kMaxPatchedFileSize = sizeof(void*) >= 8 ? 0x40000000u : 0x10000000u;

struct DeltaPatch {
    WideChar fileName[VEXAL_HEADER_TEXT_UNITS]; // NUL-terminated when shorter than the field
    Digest oldDigest;
    Digest newDigest;
    uint64_t offset;
    uint32_t size;
    uint32_t newSize;
};

// The size of the index (preamble and records) that a preamble announces, or 0 when the bytes
// are not a delta file's preamble (too short, wrong magic or version, more than kMaxDeltaPatches).
uint32_t DeltaIndexSize(const uint8_t* data, uint32_t size);

// Reads a whole index (its preamble and every record, size at least DeltaIndexSize). False,
// with patches empty, when the preamble is wrong, the records do not match their digest, or a
// record is impossible: a patch inside the index or of size 0, or a new size above
// kMaxPatchedFileSize.
bool ReadDeltaIndex(const uint8_t* data, uint32_t size, Array<DeltaPatch>& patches);

// The index of the patch that turns content of digest from into content of digest to for the
// module file name (compared exactly), or -1.
int32_t FindDeltaPatch(const Array<DeltaPatch>& patches, const WideChar* name, const Digest& from, const Digest& to);

// Writes the preamble and the records of patches (offsets and sizes as given) into output,
// which receives exactly kDeltaPreambleSize + count x kDeltaRecordSize bytes.
bool WriteDeltaIndex(const Array<DeltaPatch>& patches, Buffer& output);

// The zstd level a patch is made with unless another is asked for: the best that still makes a
// 26 MB program's patch within a minute on two cores.
constexpr int32_t kDefaultPatchLevel = 19;

// Makes a patch that rebuilds target from reference (long-distance matching, the window sized to
// the larger of the two) at level 1..22 into patch. False for files above kMaxPatchedFileSize, a
// bad level or an encoder failure (patch then empty).
bool MakePatch(const uint8_t* reference, uint32_t referenceSize, const uint8_t* target, uint32_t targetSize,
               int32_t level, Buffer& patch);

// Applies a patch made by MakePatch: output receives exactly targetSize bytes (owned). False,
// with output empty, when either size is above kMaxPatchedFileSize, the patch needs a window
// larger than the two files call for, is damaged, or rebuilds anything but targetSize bytes.
// The result must still be checked against its digest: a patch made from another reference
// may rebuild other bytes of the right length.
bool ApplyPatch(const uint8_t* reference, uint32_t referenceSize, const uint8_t* patch, uint32_t patchSize,
                uint32_t targetSize, Buffer& output);
