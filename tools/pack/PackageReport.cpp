// Reading and judging a package header as the loader would.
#include "tools/pack/PackageReport.h"

#include <cstdio>
#include <cstdlib>

#include "Source/Common/Digest.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/File.h"
#include "tools/pack/Commands.h"

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

} // namespace

std::string NarrowText(const char16_t* text, int32_t count) {
    if (text == nullptr) return std::string();
    int32_t length = 0;
    while ((count < 0 || length < count) && text[length] != 0) ++length;
    const String printable = PrintableText(String(text, length));
    char* narrow = Utf16ToUtf8(_null, 0, printable.Data(), printable.GetLength());
    if (narrow == _null) return std::string();
    std::string out(narrow);
    free(narrow);
    return out;
}

std::string DigestWordsText(const uint32_t words[4]) {
    char text[33];
    DigestToAscii(DigestFromWords(words), text);
    return text;
}

bool ReadPackageReport(const char* path, PackageReport& report, std::string& error) {
    report = PackageReport();
    std::string bytes;
    if (!ReadFileStart(path, VEXAL_HEADER_SIZE, bytes)) {
        error = std::string("cannot read ") + path;
        return false;
    }
    report.mFileSize = uint64_t(FileSize(PathArgument(path)));
    const uint32_t total = uint32_t(bytes.size());
    ReadPackageHeader(reinterpret_cast<const uint8_t*>(bytes.data()), total, report.mHeader);
    const PackageHeader& header = report.mHeader;
    report.mExpectedSize = ExpectedPackageSize(header);

    if (total != VEXAL_HEADER_SIZE) {
        report.mRejections.push_back("the file holds " + std::to_string(total) + " bytes, less than the " +
                                     std::to_string(VEXAL_HEADER_SIZE) + " the header request asks for");
    }
    if (header.magic != VEXAL_PACKAGE_MAGIC)
        report.mRejections.push_back("wrong magic " + Hex(header.magic) + ", expected " + Hex(VEXAL_PACKAGE_MAGIC));
    Digest key = PackageKeyDigest();
    uint32_t expectedKey[4] = {key.a, key.b, key.c, key.d};
    report.mKeyRight = DigestFromWords(header.key) == key;
    if (header.version == 2 && !report.mKeyRight)
        report.mRejections.push_back("wrong key " + DigestWordsText(header.key) + ", expected " +
                                     DigestWordsText(expectedKey));
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        const ModuleEntry& entry = header.modules[i];
        if (!IsSafeModuleFileName(entry.fileName))
            report.mRejections.push_back("entry " + std::to_string(i) + " has an unsafe file name \"" +
                                         NarrowText(entry.fileName, VEXAL_HEADER_TEXT_UNITS) + "\"");
    }
    if (report.mFileSize != report.mExpectedSize)
        report.mRejections.push_back("the file holds " + std::to_string(report.mFileSize) +
                                     " bytes, the header adds up to " + std::to_string(report.mExpectedSize));

    bool anyFile = false;
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        const ModuleEntry& entry = header.modules[i];
        if (!ModuleHasFile(entry)) continue;
        anyFile = true;
        if (uint64_t(entry.offset) + entry.size > report.mFileSize)
            report.mProblems.push_back("entry " + std::to_string(i) + "'s block (offset " +
                                       std::to_string(entry.offset) + ", size " + std::to_string(entry.size) +
                                       ") reaches past the end of the file");
    }
    if (!anyFile) report.mProblems.push_back("no entry names a file, so there is no game module to load");
    // The data file's folder and name come from the cache name, and so does the release record
    // of signed runs: the loader leaves the data file alone unless the name is a plain folder
    // name, and refuses such a package when it is signed.
    if (!IsSafeCacheName(header.cacheName))
        report.mWarnings.push_back("the cache name \"" + NarrowText(header.cacheName) +
                                   "\" is not a plain folder name: the game's data file is never size-checked, "
                                   "and the package cannot be signed");
    return true;
}
