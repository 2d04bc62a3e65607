// Delta files as a mirror may serve them: the index reader takes only what it could have written
// (the same bytes come back) and never a record pointing into the index; whatever follows the
// index, applied as a patch to a small reference, rebuilds exactly the size asked for or nothing.
#include <cstring>

#include "FuzzSupport.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/DeltaFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size > kDeltaPreambleSize + kMaxDeltaPatches * kDeltaRecordSize + 4096)
        return -1;
    const uint32_t length = uint32_t(size);

    const uint32_t indexSize = DeltaIndexSize(data, length);
    Array<DeltaPatch> patches;
    const bool read = ReadDeltaIndex(data, length, patches);
    FUZZ_CHECK(!read || (indexSize != 0 && indexSize <= length));
    FUZZ_CHECK(read || patches.GetCount() == 0);
    if (read) {
        FUZZ_CHECK(uint32_t(patches.GetCount()) == (indexSize - kDeltaPreambleSize) / kDeltaRecordSize);
        Buffer written;
        FUZZ_CHECK(WriteDeltaIndex(patches, written));
        FUZZ_CHECK(written.GetSize() == indexSize);
        FUZZ_CHECK(std::memcmp(written.GetData(), data, indexSize) == 0);
        for (int32_t i = 0; i < patches.GetCount(); ++i) {
            const DeltaPatch& patch = patches[i];
            FUZZ_CHECK(patch.offset >= indexSize && patch.size > 0 && patch.newSize <= kMaxPatchedFileSize);
            WideChar name[VEXAL_HEADER_TEXT_UNITS + 1] = {};
            std::memcpy(name, patch.fileName, sizeof(patch.fileName));
            const int32_t found = FindDeltaPatch(patches, name, patch.oldDigest, patch.newDigest);
            FUZZ_CHECK(found >= 0 && found <= i);
        }
    }

    // The bytes after the preamble as a patch of a fixed reference, to the size the first
    // record claims (bounded, so that a claim of a gigabyte does not cost the run its memory).
    static const uint8_t kReference[256] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint32_t start = length < kDeltaPreambleSize ? length : kDeltaPreambleSize;
    const uint32_t claimed = read && patches.GetCount() > 0 ? patches[0].newSize % 65536 : 4096;
    Buffer rebuilt;
    if (ApplyPatch(kReference, sizeof(kReference), data + start, length - start, claimed, rebuilt))
        FUZZ_CHECK(rebuilt.GetSize() == claimed);
    else
        FUZZ_CHECK(rebuilt.GetSize() == 0);
    return 0;
}
