// Package headers as a server may send them: read the way the loader reads them, then judged by
// the loader's checks (magic, key, module names, cache name, package size).
#include <cstring>

#include "FuzzSupport.h"
#include "Source/Common/Digest.h"
#include "Source/Common/PackageFormat.h"

namespace {

bool IsSeparator(WideChar unit) { return unit == u'/' || unit == u'\\'; }

// Independent judgement of a module name: relative, and no component that climbs out.
bool NameStaysInside(const String& name) {
    const WideChar* text = name.Data();
    if (text[0] == 0 || text[0] == u'@') return true;
    if (IsSeparator(text[0])) return false;
    int32_t start = 0;
    for (int32_t i = 0;; ++i) {
        if (text[i] == 0 || IsSeparator(text[i])) {
            if (i - start == 2 && text[start] == u'.' && text[start + 1] == u'.') return false;
            if (text[i] == 0) return true;
            start = i + 1;
        }
    }
}

void CheckTextEnds(const char16_t* text) { FUZZ_CHECK(text[VEXAL_HEADER_TEXT_UNITS - 1] == 0); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    static const Digest expectedKey = PackageKeyDigest();
    if (size > 4 * VEXAL_HEADER_SIZE) return -1;

    PackageHeader header;
    std::memset(&header, 0xA5, sizeof(header));
    const bool read = ReadPackageHeader(data, uint32_t(size), header);
    FUZZ_CHECK(read == (size >= 8));
    if (!read) return 0;

    CheckTextEnds(header.name);
    CheckTextEnds(header.cacheName);
    CheckTextEnds(header.blockA.name);
    CheckTextEnds(header.blockB.name);
    CheckTextEnds(header.tailName);

    // The loader's judgement, in its order.
    uint32_t words[4];
    std::memcpy(words, header.key, sizeof(words));
    const Digest key = DigestFromWords(words);
    const bool keyAccepted = header.version != 2 || key == expectedKey;
    const String keyText = DigestToText(key);
    FUZZ_CHECK(keyText.GetLength() == 32);
    bool namesSafe = true;
    uint32_t sizeTotal = 0;
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        const ModuleEntry& entry = header.modules[i];
        const String name = ModuleFileName(entry);
        FUZZ_CHECK(name.GetLength() <= VEXAL_HEADER_TEXT_UNITS);
        FUZZ_CHECK(ModuleHasFile(entry) == (name.GetLength() > 0 && name[0] != u'@'));
        const bool safe = IsSafeModuleFileName(name);
        // The loader's rule is stricter than staying inside (no drive, stream or device names, no
        // name ending in a dot or a blank), but a file name it takes never leaves the folder. An
        // entry without a file ("@..." or empty) names nothing on disk, so any text passes there.
        FUZZ_CHECK(!safe || !ModuleHasFile(entry) || (NameStaysInside(name) && name.Find(u":") < 0));
        FUZZ_CHECK(ModuleHasFile(entry) || safe);
        namesSafe = namesSafe && safe;
        uint32_t entrySize;
        std::memcpy(&entrySize, &entry.size, sizeof(entrySize));
        sizeTotal += entrySize;
    }
    FUZZ_CHECK(ModuleSizeTotal(header) == sizeTotal);
    const uint32_t expected = ExpectedPackageSize(header);
    (void)IsSafeCacheName(header.cacheName);
    (void)keyAccepted;
    (void)namesSafe;
    (void)expected;

    // Writing the record back gives the stored bytes again, apart from the forced text ends.
    const uint32_t stored = StoredHeaderSize(header.version);
    if (size >= stored) {
        uint8_t written[VEXAL_HEADER_SIZE];
        FUZZ_CHECK(WritePackageHeader(header, written) == stored);
        uint8_t original[VEXAL_HEADER_SIZE];
        std::memcpy(original, data, stored);
        const uint32_t keyBytes = header.version == 2 ? 16 : 0;
        const uint32_t textEnds[] = {8 + 62, 72 + 62, 140 + keyBytes + 704 + 62,
                                     140 + keyBytes + 704 + 104 + 62, 140 + keyBytes + 704 + 208 + 62};
        for (uint32_t end : textEnds) original[end] = original[end + 1] = 0;
        FUZZ_CHECK(std::memcmp(original, written, stored) == 0);
    }
    return 0;
}
