// vexal-pack: digests files, packs and unpacks blocks (and builds and checks packages).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Source/Common/StringEncoding.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "tools/pack/Commands.h"
#include "tools/pack/CommandsDelta.h"
#include "tools/pack/PackageReport.h"
#include "tools/pack/CommandsPackage.h"

namespace {

const Command kCommands[] = {
    {"digest", "FILE...", "print each file's digest text and name", RunDigest},
    {"pack", "(--zlib | --lzma) [--level N] IN OUT", "write a packed block of IN to OUT", RunPack},
    {"unpack", "IN OUT", "unpack the block IN (a plain file is copied unchanged) to OUT", RunUnpack},
    {"build",
     "--out PKG [--version N] [--name N] [--cache-name N] [--zlib | --lzma] [--level N] [--block-a FILE] "
     "[--block-b FILE] MODULE...",
     "build a package; MODULE is FILE, FILE=NAME or @NAME (at most 8, the first the game module);\n"
     "      --zlib, --lzma and --level apply to the modules named after them",
     RunBuild},
    {"delta", "NEW --from OLD [--from OLDER ...] [--level N]",
     "write NEW.delta: a zstd patch (level 1..22, default 19) from each module file of an older package\n"
     "      to the file of the same name in NEW, unless above 0.8 of its block",
     RunDelta},
    {"inspect", "PKG | FILE.delta",
     "print every header field, and the fields of the signature file PKG.sig when there is one;\n"
     "      exit 1 when the loader would refuse the package; of a delta file, list its patches",
     RunInspect},
    {"verify", "PKG [DIR] [--pubkey NAME.pub] | FILE.delta --from OLD [--from ...]",
     "unpack and check every block; with DIR, say which files the loader would fetch;\n"
     "      with --pubkey, check the signature file PKG.sig as the loader does (and the SHA-256 of each block\n"
     "      and, with DIR, of each file); of a delta file, apply each patch to its old file and check the new digest",
     RunVerify},
    {"keygen", "--out NAME", "make a publisher key pair: NAME.key (secret, mode 0600) and NAME.pub (base64)",
     RunKeygen},
    {"sign", "PKG --key NAME.key --release N [--expires DAYS]",
     "write the signature file PKG.sig for a package that passes verify; N is 1 or more, DAYS at most 36500",
     RunSign},
};

// The usage text: on standard output when asked for (exit 0), else on standard error.
int Usage(bool asked = false) {
    FILE* out = asked ? stdout : stderr;
    fprintf(out, "usage: vexal-pack COMMAND ARGUMENTS\n\ncommands:\n");
    for (const Command& command : kCommands)
        fprintf(out, "  vexal-pack %s %s\n      %s\n", command.name, command.usage, command.summary);
    fprintf(out, "\nexit status: 0 done, 1 failed, 2 usage error\n");
    return asked ? kExitOk : kExitUsage;
}

} // namespace

int UsageOf(const char* name) {
    for (const Command& command : kCommands) {
        if (strcmp(command.name, name) == 0) {
            fprintf(stderr, "usage: vexal-pack %s %s\n", command.name, command.usage);
            return kExitUsage;
        }
    }
    return Usage();
}

std::string PrintableText(const std::string& text) {
    return NarrowText(PathArgument(text.c_str()));
}

String PathArgument(const char* argument) {
    WideChar* wide = Utf8ToUtf16(_null, 0, argument);
    if (wide == _null)
        return String();
    String path(wide);
    free(wide);
    return path;
}

bool ReadFileStart(const char* path, uint32_t limit, std::string& bytes) {
    bytes.clear();
    File file;
    if (!file.OpenForReading(PathArgument(path)))
        return false;
    bytes.assign(limit, '\0');
    uint32_t total = 0, read = 0;
    while (total < limit && file.Read(&bytes[total], limit - total, &read) && read > 0)
        total += read;
    bytes.resize(total);
    return true;
}

int main(int argc, char** argv) {
    // The engine's log lines (decoder failures) go to standard error.
    SetLogSinks(_null, _null, _null, _null);
    if (argc < 2)
        return Usage();
    for (const Command& command : kCommands) {
        if (strcmp(command.name, argv[1]) == 0)
            return command.run(argc - 2, argv + 2);
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0)
        return Usage(true);
    fprintf(stderr, "vexal-pack: unknown command \"%s\"\n", argv[1]);
    return Usage();
}
