// vexal-pack build | inspect | verify: whole package files.
#include "tools/pack/CommandsPackage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/Digest.h"
#include "Source/Common/PackageBuilder.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Common/Sha256.h"
#include "Source/Platform/File.h"
#include "tools/pack/Commands.h"
#include "tools/pack/CommandsDelta.h"
#include "tools/pack/ModuleCheck.h"
#include "tools/pack/PackageReport.h"
#include "tools/pack/SignatureReport.h"

namespace {

// The last path component: the name a module gets in the header when none is given.
const char* BaseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool ReadLevel(const char* text, int32_t& level) {
    char* end = _null;
    long value = strtol(text, &end, 10);
    if (end == text || *end != 0 || value < 0 || value > 9) return false;
    level = int32_t(value);
    return true;
}

struct ModuleArgument {
    std::string mPath; // empty for an entry without a file
    std::string mName;
    PackMethod mMethod;
    int32_t mLevel;
};

int BuildUsage(const char* reason) {
    fprintf(stderr, "vexal-pack: %s\n", reason);
    return UsageOf("build");
}

// A header name must survive the 31-unit field unchanged, or the loader would write another file.
bool CheckedName(const std::string& name, String& wide, std::string& error) {
    wide = PathArgument(name.c_str());
    if (wide.GetLength() > VEXAL_HEADER_TEXT_UNITS - 1) {
        error = "the name \"" + name + "\" is longer than 31 units";
        return false;
    }
    return true;
}

// Any 32-bit version is a valid header: 2 stores the key, every other leaves it out.
bool ReadVersion(const char* text, uint32_t& version) {
    if (text == _null || text[0] < '0' || text[0] > '9') return false;
    char* end = _null;
    errno = 0;
    const unsigned long long value = strtoull(text, &end, 10);
    if (errno != 0 || *end != 0 || value > 0xFFFFFFFFull) return false;
    version = uint32_t(value);
    return true;
}

} // namespace

int RunBuild(int argc, char** argv) {
    const char* out = _null;
    const char* blockFiles[2] = {_null, _null};
    const char* name = _null;
    const char* cacheName = _null;
    uint32_t version = 2;
    PackMethod method = kPackZlib;
    int32_t level = -1;
    bool flagsPending = false; // a method or level flag not yet followed by a module
    std::vector<ModuleArgument> modules;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (strcmp(arg, "--out") == 0 && hasValue) out = argv[++i];
        else if (strcmp(arg, "--name") == 0 && hasValue) name = argv[++i];
        else if (strcmp(arg, "--cache-name") == 0 && hasValue) cacheName = argv[++i];
        else if (strcmp(arg, "--block-a") == 0 && hasValue) blockFiles[0] = argv[++i];
        else if (strcmp(arg, "--block-b") == 0 && hasValue) blockFiles[1] = argv[++i];
        else if (strcmp(arg, "--version") == 0 && hasValue) {
            if (!ReadVersion(argv[++i], version)) return BuildUsage("the version is a number from 0 to 4294967295");
        } else if (strcmp(arg, "--zlib") == 0) {
            method = kPackZlib;
            flagsPending = true;
        } else if (strcmp(arg, "--lzma") == 0) {
            method = kPackLzma;
            flagsPending = true;
        } else if (strcmp(arg, "--level") == 0 && hasValue) {
            if (!ReadLevel(argv[++i], level)) return BuildUsage("the level is a number from 0 to 9");
            flagsPending = true;
        } else if (arg[0] == '-' || arg[0] == 0) {
            return BuildUsage((std::string("unknown option ") + arg).c_str());
        } else {
            ModuleArgument module;
            if (arg[0] == '@') {
                module.mName = arg;
            } else {
                const char* equals = strchr(arg, '=');
                module.mPath = equals ? std::string(arg, size_t(equals - arg)) : std::string(arg);
                module.mName = equals ? std::string(equals + 1) : std::string(BaseName(arg));
                if (module.mPath.empty() || module.mName.empty())
                    return BuildUsage((std::string("a module is FILE, FILE=NAME or @NAME, not ") + arg).c_str());
            }
            module.mMethod = method;
            module.mLevel = level;
            modules.push_back(module);
            flagsPending = false;
        }
    }
    if (out == _null) return BuildUsage("--out PKG is required");
    if (modules.empty()) return BuildUsage("at least one module is needed");
    if (modules.size() > VEXAL_MODULE_COUNT) return BuildUsage("a package holds at most 8 modules");
    if (modules[0].mPath.empty()) return BuildUsage("the first module is the game module library: a file");
    if (flagsPending) return BuildUsage("--zlib, --lzma and --level apply to the modules after them");

    PackageBuilder builder;
    builder.SetVersion(version);
    std::string error;
    String wide;
    if (name != _null) {
        if (!CheckedName(name, wide, error)) return BuildUsage(error.c_str());
        builder.SetName(wide);
    }
    if (cacheName != _null) {
        if (!CheckedName(cacheName, wide, error)) return BuildUsage(error.c_str());
        if (!IsSafeCacheName(wide)) {
            fprintf(stderr, "vexal-pack: the cache name \"%s\" is not usable: %s\n", PrintableText(cacheName).c_str(),
                    kCacheNameRule);
            return kExitFailed;
        }
        builder.SetCacheName(wide);
    }
    for (const ModuleArgument& module : modules) {
        if (!CheckedName(module.mName, wide, error)) return BuildUsage(error.c_str());
        if (!IsSafeModuleFileName(wide)) {
            fprintf(stderr,
                    "vexal-pack: the module name \"%s\" cannot be a file in the cache folder on every system (absolute, "
                    "climbing out, a folder, a drive, a stream, a device name, or ending in a dot or a blank)\n",
                    PrintableText(module.mName).c_str());
            return kExitFailed;
        }
        if (module.mPath.empty()) {
            builder.AddEntry(wide);
            continue;
        }
        Buffer content;
        if (!ReadFileToBuffer(content, PathArgument(module.mPath.c_str()))) {
            fprintf(stderr, "vexal-pack: cannot read %s\n", module.mPath.c_str());
            return kExitFailed;
        }
        if (&module == &modules[0]) {
            // The package is still written: the module may be built for another machine on purpose.
            ModulePlace place{module.mName, std::string(), {}};
            for (const ModuleArgument& other : modules)
                if (&other != &module && !other.mPath.empty()) place.mPackageFiles.push_back(other.mName);
            for (const std::string& finding : CheckGameModule(content.GetData(), content.GetSize(), place))
                fprintf(stderr, "vexal-pack: warning: the game module %s %s\n", PrintableText(module.mName).c_str(),
                        PrintableText(finding).c_str());
        }
        if (!builder.AddModule(wide, content.GetData(), content.GetSize(), module.mMethod, module.mLevel)) {
            fprintf(stderr, "vexal-pack: cannot pack %s\n", module.mPath.c_str());
            return kExitFailed;
        }
    }
    for (int32_t i = 0; i < 2; ++i) {
        if (blockFiles[i] == _null) continue;
        Buffer content;
        if (!ReadFileToBuffer(content, PathArgument(blockFiles[i]))) {
            fprintf(stderr, "vexal-pack: cannot read %s\n", blockFiles[i]);
            return kExitFailed;
        }
        String blockName = PathArgument(BaseName(blockFiles[i]));
        if (!builder.SetDataBlock(i, blockName, content.GetData(),
                                  content.GetSize())) {
            fprintf(stderr, "vexal-pack: cannot add %s\n", blockFiles[i]);
            return kExitFailed;
        }
    }
    if (!builder.WriteToFile(PathArgument(out))) {
        fprintf(stderr, "vexal-pack: cannot write %s (a package stays below 4 GiB)\n", out);
        return kExitFailed;
    }
    const PackageHeader& header = builder.Header();
    for (uint32_t i = 0; i < builder.GetEntryCount(); ++i) {
        const ModuleEntry& entry = header.modules[i];
        printf("entry %u  %-31s  %s  offset %u  size %u\n", i, NarrowText(entry.fileName).c_str(),
               DigestWordsText(entry.digest).c_str(), entry.offset, entry.size);
    }
    printf("package %s  version %u  %u bytes\n", out, header.version, ExpectedPackageSize(header));
    return kExitOk;
}

namespace {

void PrintBlock(const char* label, const DataBlockEntry& block) {
    printf("%-12s name \"%s\"  number %llu  size %llu  values %u %u  digest %s\n", label,
           NarrowText(block.name).c_str(), (unsigned long long)block.number, (unsigned long long)block.size,
           block.value1, block.value2, DigestWordsText(block.digest).c_str());
}

void PrintFindings(const PackageReport& report) {
    for (const std::string& line : report.mRejections) printf("rejected:    %s\n", PrintableText(line).c_str());
    for (const std::string& line : report.mProblems) printf("problem:     %s\n", PrintableText(line).c_str());
    for (const std::string& line : report.mWarnings) printf("warning:     %s\n", PrintableText(line).c_str());
}

} // namespace

int RunInspect(int argc, char** argv) {
    if (argc != 1 || argv[0][0] == '-') return UsageOf("inspect");
    if (IsDeltaFile(argv[0])) return InspectDelta(argv[0]);
    PackageReport report;
    std::string error;
    if (!ReadPackageReport(argv[0], report, error)) {
        fprintf(stderr, "vexal-pack: %s\n", error.c_str());
        return kExitFailed;
    }
    const PackageHeader& header = report.mHeader;
    printf("%-12s %s (%llu bytes)\n", "file", argv[0], (unsigned long long)report.mFileSize);
    printf("%-12s 0x%08x%s\n", "magic", header.magic, header.magic == VEXAL_PACKAGE_MAGIC ? "" : " (wrong)");
    printf("%-12s %u (header of %u bytes in the file)\n", "version", header.version,
           StoredHeaderSize(header.version));
    printf("%-12s \"%s\"\n", "name", NarrowText(header.name).c_str());
    printf("%-12s \"%s\"\n", "cache name", NarrowText(header.cacheName).c_str());
    printf("%-12s %u\n", "extra", header.extra);
    if (header.version == 2)
        printf("%-12s %s (%s)\n", "key", DigestWordsText(header.key).c_str(), report.mKeyRight ? "right" : "wrong");
    else
        printf("%-12s not stored in a version %u header (not checked)\n", "key", header.version);
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        const ModuleEntry& entry = header.modules[i];
        const char* kind = ModuleHasFile(entry) ? "" : (entry.fileName[0] == 0 ? "  (empty entry)" : "  (no file)");
        printf("entry %d      \"%s\"  digest %s  offset %u  size %u%s\n", i,
               NarrowText(entry.fileName, VEXAL_HEADER_TEXT_UNITS).c_str(), DigestWordsText(entry.digest).c_str(),
               entry.offset, entry.size, kind);
    }
    PrintBlock("block A", header.blockA);
    PrintBlock("block B", header.blockB);
    printf("%-12s \"%s\"\n", "tail name", NarrowText(header.tailName).c_str());
    printf("%-12s %u expected, %llu in the file\n", "package size", report.mExpectedSize,
           (unsigned long long)report.mFileSize);
    PrintFindings(report);
    PrintSignatureFile(argv[0]);
    bool refused = !report.mRejections.empty();
    printf("%-12s %s\n", "verdict",
           refused ? "the loader refuses this header"
                   : (report.mProblems.empty() ? "accepted" : "accepted, but the run cannot complete"));
    return refused || !report.mProblems.empty() ? kExitFailed : kExitOk;
}

bool CheckPackage(const char* path, const char* folder, const SignatureReport* signature, bool print,
                  Sha256Digest sha256[VEXAL_MODULE_COUNT], uint32_t sizes[VEXAL_MODULE_COUNT]) {
    PackageReport report;
    std::string error;
    if (!ReadPackageReport(path, report, error)) {
        fprintf(stderr, "vexal-pack: %s\n", error.c_str());
        return false;
    }
    if (print) PrintFindings(report);
    bool failed = !report.mRejections.empty() || !report.mProblems.empty();
    File package;
    if (!package.OpenForReading(PathArgument(path))) {
        fprintf(stderr, "vexal-pack: cannot read %s\n", path);
        return false;
    }
    const PackageHeader& header = report.mHeader;
    // A signature the tool judged accepted also vouches for each module file's SHA-256.
    const bool signedModules = signature != _null && signature->mVerdict == kSignatureAccepted;
    // The first entry with a file is the library the loader loads.
    int32_t gameModule = 0;
    while (gameModule < VEXAL_MODULE_COUNT && !ModuleHasFile(header.modules[gameModule])) ++gameModule;
    std::vector<std::string> moduleFindings;
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        const ModuleEntry& entry = header.modules[i];
        std::string fileName = NarrowText(entry.fileName, VEXAL_HEADER_TEXT_UNITS);
        if (!ModuleHasFile(entry) && entry.size == 0) continue;
        std::string line = "entry " + std::to_string(i) + " \"" + fileName + "\": ";
        Buffer block;
        uint32_t read = 0;
        bool readable = uint64_t(entry.offset) + entry.size <= report.mFileSize && block.Allocate(entry.size) &&
                        package.Seek(entry.offset) && (entry.size == 0 || package.Read(block.GetData(), entry.size, &read)) &&
                        read == entry.size;
        const Digest expected = DigestFromWords(entry.digest);
        const Sha256Digest* signedSha = signedModules && ModuleHasFile(entry) ? &signature->mFields.mModules[i] : _null;
        // A signed size is what the loader holds the block's declared size to, before unpacking.
        uint32_t declared = block.GetSize();
        PackedBlockSize(block.GetData(), block.GetSize(), declared);
        const bool signedSize = signedSha != _null && signature->mFields.mVersion >= 2;
        const bool sized = !signedSize || declared == signature->mFields.mModuleSizes[i];
        // The block then holds the file the loader would write; nothing it merely declares is
        // allocated.
        const bool unpacked = readable && sized && UnpackBufferStepwise(block);
        if (!readable) {
            line += "block cannot be read";
            failed = true;
        } else if (!sized) {
            line += "block unpacks to " + std::to_string(declared) + " bytes, " +
                    std::to_string(signature->mFields.mModuleSizes[i]) + " signed";
            failed = true;
        } else if (!unpacked) {
            line += "block does not unpack";
            failed = true;
        } else if (expected.IsZero()) {
            line += "block unpacks to " + std::to_string(block.GetSize()) + " bytes (digest all zero: not checked)";
        } else {
            Digest digest = ComputeDigest(block.GetData(), block.GetSize());
            if (digest == expected) {
                line += "block intact, " + std::to_string(block.GetSize()) + " bytes";
            } else {
                char text[33];
                DigestToAscii(digest, text);
                line += std::string("block damaged: digest ") + text + ", " + DigestWordsText(entry.digest) +
                        " expected";
                failed = true;
            }
        }
        if (unpacked && i == gameModule) {
            ModulePlace place{fileName, folder != _null ? std::string(folder) : std::string(), {}};
            for (int32_t k = 0; k < VEXAL_MODULE_COUNT; ++k)
                if (k != i && ModuleHasFile(header.modules[k]))
                    place.mPackageFiles.push_back(NarrowText(header.modules[k].fileName, VEXAL_HEADER_TEXT_UNITS));
            for (const std::string& finding : CheckGameModule(block.GetData(), block.GetSize(), place)) {
                moduleFindings.push_back("the game module \"" + fileName + "\" " + finding);
                failed = true;
            }
        }
        Sha256Digest content = {};
        if (unpacked && !ComputeSha256(block.GetData(), block.GetSize(), content)) {
            line += "; SHA-256 cannot be computed";
            failed = true;
        }
        if (sha256 != _null) sha256[i] = content;
        if (sizes != _null) sizes[i] = unpacked ? block.GetSize() : 0;
        if (unpacked && signedSha != _null) {
            if (content == *signedSha) {
                line += ", signed SHA-256 matches";
            } else {
                char text[65];
                Sha256ToAscii(content, text);
                line += std::string("; signed SHA-256 differs: ") + text;
                failed = true;
            }
        }
        if (folder != _null && ModuleHasFile(entry)) {
            std::string file = std::string(folder) + "/" + fileName;
            String widePath = PathArgument(file.c_str());
            Digest fileDigest;
            Sha256Digest fileSha;
            const bool present = FileExists(widePath);
            const bool digested = present && FileDigests(widePath, fileDigest, fileSha);
            // With a signature the loader holds every file to its signed SHA-256, even one whose
            // header digest is all zero and which it would otherwise take as present unread.
            if (signedSha != _null) {
                if (!present) line += "; file missing: would fetch";
                else if (digested && fileSha == *signedSha && (expected.IsZero() || fileDigest == expected))
                    line += "; file present and intact (signed SHA-256 matches)";
                else line += "; file differs: would fetch";
            } else if (expected.IsZero()) {
                line += "; file taken as present (all-zero digest)";
            } else if (!present) {
                line += "; file missing: would fetch";
            } else if (digested && fileDigest == expected) {
                line += "; file present and intact";
            } else {
                line += "; file differs: would fetch";
            }
        }
        if (print) printf("%s\n", PrintableText(line).c_str());
    }
    if (print)
        for (const std::string& finding : moduleFindings) printf("problem:     %s\n", PrintableText(finding).c_str());
    package.Close();
    return !failed;
}

int RunVerify(int argc, char** argv) {
    if (argc > 0 && IsDeltaFile(argv[0])) return VerifyDelta(argc, argv);
    const char* files[2] = {_null, _null};
    int fileCount = 0;
    const char* publicKeys = _null;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--pubkey") == 0 && i + 1 < argc && publicKeys == _null) publicKeys = argv[++i];
        else if (argv[i][0] != '-' && argv[i][0] != 0 && fileCount < 2) files[fileCount++] = argv[i];
        else return UsageOf("verify");
    }
    if (fileCount < 1) return UsageOf("verify");
    SignatureReport signature;
    if (publicKeys != _null) {
        std::string error;
        if (!JudgeSignatureFile(files[0], publicKeys, signature, error)) {
            fprintf(stderr, "vexal-pack: %s\n", error.c_str());
            return kExitFailed;
        }
    }
    bool ok = CheckPackage(files[0], files[1], publicKeys != _null ? &signature : _null, true, _null, _null);
    if (publicKeys != _null) {
        PrintSignatureVerdict(signature);
        ok = ok && signature.mVerdict == kSignatureAccepted;
    }
    printf("%s\n", ok ? "verify: ok" : "verify: FAILED");
    return ok ? kExitOk : kExitFailed;
}
