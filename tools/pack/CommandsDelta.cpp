// vexal-pack delta, and inspect and verify of a delta file: patches from the module files of
// earlier packages to those of a new one, so that players who hold an earlier release fetch
// only what changed.
#include "tools/pack/CommandsDelta.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/DeltaFile.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Platform/File.h"
#include "tools/pack/Commands.h"
#include "tools/pack/PackageReport.h"

namespace {

// A patch is kept only when clearly smaller than the block it stands in for: above this share
// of the block (releases far apart), fetching the block costs about the same and needs no
// cached file.
constexpr double kLargestPatchShare = 0.8;

// The module files of one package, unpacked.
struct PackageFiles {
    std::string mPath;
    PackageHeader mHeader = {};
    Buffer mContent[VEXAL_MODULE_COUNT];
    bool mPresent[VEXAL_MODULE_COUNT] = {};
};

// Reads every module file of the package at path. False, with the reason on standard error,
// when the package cannot be read or a block does not unpack to its digest.
bool ReadPackageFiles(const char* path, PackageFiles& files) {
    PackageReport report;
    std::string error;
    if (!ReadPackageReport(path, report, error)) {
        fprintf(stderr, "vexal-pack: %s\n", error.c_str());
        return false;
    }
    if (!report.mRejections.empty()) {
        fprintf(stderr, "vexal-pack: %s: the loader refuses this package (%s)\n", path,
                report.mRejections[0].c_str());
        return false;
    }
    File package;
    if (!package.OpenForReading(PathArgument(path))) {
        fprintf(stderr, "vexal-pack: cannot read %s\n", path);
        return false;
    }
    files.mPath = path;
    files.mHeader = report.mHeader;
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        const ModuleEntry& entry = files.mHeader.modules[i];
        if (!ModuleHasFile(entry))
            continue;
        Buffer& block = files.mContent[i];
        uint32_t read = 0;
        const bool readable = uint64_t(entry.offset) + entry.size <= report.mFileSize && block.Allocate(entry.size) &&
                              package.Seek(entry.offset) &&
                              (entry.size == 0 || package.Read(block.GetData(), entry.size, &read)) &&
                              read == entry.size;
        const Digest expected = DigestFromWords(entry.digest);
        if (!readable || !UnpackBuffer(block) ||
            (!expected.IsZero() && ComputeDigest(block.GetData(), block.GetSize()) != expected)) {
            fprintf(stderr, "vexal-pack: %s: entry %d \"%s\" does not unpack to its digest\n", path, i,
                    NarrowText(entry.fileName, VEXAL_HEADER_TEXT_UNITS).c_str());
            return false;
        }
        files.mPresent[i] = true;
    }
    return true;
}

// The file name a patch is for, up to its first 0 unit.
String PatchName(const DeltaPatch& patch) {
    int32_t length = 0;
    while (length < VEXAL_HEADER_TEXT_UNITS && patch.fileName[length] != 0)
        ++length;
    return String(patch.fileName, length);
}

std::string DigestText(const Digest& digest) {
    char text[33];
    DigestToAscii(digest, text);
    return text;
}

bool ReadPatchLevel(const char* text, int32_t& level) {
    char* end = _null;
    const long value = strtol(text, &end, 10);
    if (end == text || *end != 0 || value < 1 || value > 22)
        return false;
    level = int32_t(value);
    return true;
}

// The arguments delta and verify share: one file and at least one --from package.
bool ReadDeltaArguments(int argc, char** argv, bool takesLevel, const char*& file,
                        std::vector<const char*>& olderPackages, int32_t& level) {
    file = _null;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--from") == 0 && i + 1 < argc) {
            olderPackages.push_back(argv[++i]);
        } else if (takesLevel && strcmp(argv[i], "--level") == 0 && i + 1 < argc) {
            if (!ReadPatchLevel(argv[++i], level))
                return false;
        } else if (argv[i][0] != '-' && argv[i][0] != 0 && file == _null) {
            file = argv[i];
        } else {
            return false;
        }
    }
    return file != _null && !olderPackages.empty();
}

// The older file the patch starts from: an entry of the same name and digest in one of the
// packages, or none.
const Buffer* FindOldContent(const std::vector<PackageFiles>& older, const DeltaPatch& patch) {
    for (const PackageFiles& files : older) {
        for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
            const ModuleEntry& entry = files.mHeader.modules[i];
            if (files.mPresent[i] && DigestFromWords(entry.digest) == patch.oldDigest &&
                ModuleFileName(entry) == PatchName(patch))
                return &files.mContent[i];
        }
    }
    return _null;
}

} // namespace

bool IsDeltaFile(const char* path) {
    std::string start;
    return ReadFileStart(path, kDeltaPreambleSize, start) && start.size() == kDeltaPreambleSize &&
           memcmp(start.data(), kDeltaMagic, sizeof(kDeltaMagic)) == 0;
}

bool ReadDeltaFile(const char* path, Buffer& content, Array<DeltaPatch>& patches) {
    if (!ReadFileToBuffer(content, PathArgument(path))) {
        fprintf(stderr, "vexal-pack: cannot read %s\n", path);
        return false;
    }
    if (!ReadDeltaIndex(content.GetData(), content.GetSize(), patches)) {
        fprintf(stderr, "vexal-pack: %s: the index of patches is damaged\n", path);
        return false;
    }
    for (const DeltaPatch& patch : patches) {
        if (patch.offset + patch.size > content.GetSize()) {
            fprintf(stderr, "vexal-pack: %s: the patch of \"%s\" ends past the file\n", path,
                    NarrowText(patch.fileName, VEXAL_HEADER_TEXT_UNITS).c_str());
            return false;
        }
    }
    return true;
}

int RunDelta(int argc, char** argv) {
    const char* newPath = _null;
    std::vector<const char*> olderPaths;
    int32_t level = kDefaultPatchLevel;
    if (!ReadDeltaArguments(argc, argv, true, newPath, olderPaths, level))
        return UsageOf("delta");

    PackageFiles newFiles;
    if (!ReadPackageFiles(newPath, newFiles))
        return kExitFailed;
    std::vector<PackageFiles> older(olderPaths.size());
    for (size_t k = 0; k < olderPaths.size(); ++k)
        if (!ReadPackageFiles(olderPaths[k], older[k]))
            return kExitFailed;

    Array<DeltaPatch> patches;
    std::vector<Buffer> bodies;
    uint64_t total = 0;
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        const ModuleEntry& entry = newFiles.mHeader.modules[i];
        const Digest newDigest = DigestFromWords(entry.digest);
        // A file without a digest is never compared by the loader, so no patch can be chosen for it.
        if (!newFiles.mPresent[i] || newDigest.IsZero())
            continue;
        const String name = ModuleFileName(entry);
        const std::string printable = NarrowText(entry.fileName, VEXAL_HEADER_TEXT_UNITS);
        for (const PackageFiles& files : older) {
            for (int32_t k = 0; k < VEXAL_MODULE_COUNT; ++k) {
                const ModuleEntry& oldEntry = files.mHeader.modules[k];
                const Digest oldDigest = DigestFromWords(oldEntry.digest);
                if (!files.mPresent[k] || oldDigest.IsZero() || oldDigest == newDigest || ModuleFileName(oldEntry) != name)
                    continue;
                // The same old content in two earlier packages needs one patch.
                if (FindDeltaPatch(patches, name.Data(), oldDigest, newDigest) >= 0)
                    continue;
                const Buffer& from = files.mContent[k];
                const Buffer& to = newFiles.mContent[i];
                Buffer patch;
                if (!MakePatch(from.GetData(), from.GetSize(), to.GetData(), to.GetSize(), level, patch)) {
                    fprintf(stderr, "vexal-pack: cannot make the patch of \"%s\" from %s\n", printable.c_str(),
                            files.mPath.c_str());
                    return kExitFailed;
                }
                const double share = entry.size != 0 ? double(patch.GetSize()) / double(entry.size) : 1.0;
                printf("%s \"%s\" from %s (%s)  %u bytes, %.4f of the block of %u%s\n",
                       share > kLargestPatchShare ? "left out" : "patch   ", printable.c_str(), files.mPath.c_str(),
                       DigestText(oldDigest).c_str(), patch.GetSize(), share, entry.size,
                       share > kLargestPatchShare ? ": the block serves as well" : "");
                if (share > kLargestPatchShare)
                    continue;
                if (patches.GetCount() == int32_t(kMaxDeltaPatches)) {
                    fprintf(stderr, "vexal-pack: a delta file holds at most %u patches\n", kMaxDeltaPatches);
                    return kExitFailed;
                }
                DeltaPatch record = {};
                for (int32_t u = 0; u < VEXAL_HEADER_TEXT_UNITS; ++u)
                    record.fileName[u] = entry.fileName[u];
                record.oldDigest = oldDigest;
                record.newDigest = newDigest;
                record.size = patch.GetSize();
                record.newSize = to.GetSize();
                patches.Append(record);
                bodies.push_back(std::move(patch));
                total += record.size;
            }
        }
    }

    Buffer index;
    uint64_t offset = kDeltaPreambleSize + uint64_t(patches.GetCount()) * kDeltaRecordSize;
    for (DeltaPatch& patch : patches) {
        patch.offset = offset;
        offset += patch.size;
    }
    const std::string out = std::string(newPath) + ".delta";
    File file;
    bool written = WriteDeltaIndex(patches, index) && file.CreateForWriting(PathArgument(out.c_str())) &&
                   file.Write(index.GetData(), index.GetSize());
    for (const Buffer& body : bodies)
        written = written && file.Write(body.GetData(), body.GetSize());
    file.Close();
    if (!written) {
        fprintf(stderr, "vexal-pack: cannot write %s\n", out.c_str());
        return kExitFailed;
    }
    printf("delta %s  %d patches  %llu bytes\n", out.c_str(), patches.GetCount(), (unsigned long long)(offset));
    return kExitOk;
}

int InspectDelta(const char* path) {
    Buffer content;
    Array<DeltaPatch> patches;
    if (!ReadDeltaFile(path, content, patches))
        return kExitFailed;
    printf("%-12s %s (%u bytes, delta file)\n", "file", path, content.GetSize());
    printf("%-12s %d (index of %u bytes)\n", "patches", patches.GetCount(),
           kDeltaPreambleSize + uint32_t(patches.GetCount()) * kDeltaRecordSize);
    for (int32_t i = 0; i < patches.GetCount(); ++i) {
        const DeltaPatch& patch = patches[i];
        printf("patch %-6d \"%s\"  from %s  to %s  offset %llu  size %u  new size %u\n", i,
               NarrowText(patch.fileName, VEXAL_HEADER_TEXT_UNITS).c_str(), DigestText(patch.oldDigest).c_str(),
               DigestText(patch.newDigest).c_str(), (unsigned long long)patch.offset, patch.size, patch.newSize);
    }
    return kExitOk;
}

int VerifyDelta(int argc, char** argv) {
    const char* path = _null;
    std::vector<const char*> olderPaths;
    int32_t level = 0;
    if (!ReadDeltaArguments(argc, argv, false, path, olderPaths, level))
        return UsageOf("verify");
    Buffer content;
    Array<DeltaPatch> patches;
    if (!ReadDeltaFile(path, content, patches))
        return kExitFailed;
    std::vector<PackageFiles> older(olderPaths.size());
    for (size_t k = 0; k < olderPaths.size(); ++k)
        if (!ReadPackageFiles(olderPaths[k], older[k]))
            return kExitFailed;
    // The package the delta file belongs to, when it lies beside it: each patch must rebuild one
    // of its files.
    std::string packagePath(path);
    PackageReport newPackage;
    std::string error;
    bool withPackage = packagePath.size() > 6 && packagePath.compare(packagePath.size() - 6, 6, ".delta") == 0;
    if (withPackage) {
        packagePath.resize(packagePath.size() - 6);
        withPackage = FileExists(PathArgument(packagePath.c_str())) && ReadPackageReport(packagePath.c_str(), newPackage, error);
    }
    bool ok = true;
    for (int32_t i = 0; i < patches.GetCount(); ++i) {
        const DeltaPatch& patch = patches[i];
        std::string line = "patch " + std::to_string(i) + " \"" + NarrowText(patch.fileName, VEXAL_HEADER_TEXT_UNITS) + "\": ";
        const Buffer* from = FindOldContent(older, patch);
        Buffer rebuilt;
        if (from == _null) {
            line += "its old content is in none of the given packages";
            ok = false;
        } else if (!ApplyPatch(from->GetData(), from->GetSize(), content.GetData() + patch.offset, patch.size,
                               patch.newSize, rebuilt)) {
            line += "does not apply";
            ok = false;
        } else if (ComputeDigest(rebuilt.GetData(), rebuilt.GetSize()) != patch.newDigest) {
            line += "rebuilds content of another digest";
            ok = false;
        } else {
            line += "applies, " + std::to_string(rebuilt.GetSize()) + " bytes of digest " + DigestText(patch.newDigest);
            if (withPackage) {
                bool named = false;
                for (const ModuleEntry& entry : newPackage.mHeader.modules)
                    named = named || (DigestFromWords(entry.digest) == patch.newDigest &&
                                      ModuleFileName(entry) == PatchName(patch));
                line += named ? ", a file of " + packagePath : "; but " + packagePath + " has no such file";
                ok = ok && named;
            }
        }
        printf("%s\n", line.c_str());
    }
    printf("%s\n", ok ? "verify: ok" : "verify: FAILED");
    return ok ? kExitOk : kExitFailed;
}
