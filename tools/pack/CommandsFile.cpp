// vexal-pack digest | pack | unpack: the commands over single files and blocks.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/Digest.h"
#include "Source/Platform/File.h"
#include "tools/pack/Commands.h"

namespace {

bool ReadInput(Buffer& buffer, const char* name) {
    if (ReadFileToBuffer(buffer, PathArgument(name)))
        return true;
    fprintf(stderr, "vexal-pack: cannot read %s\n", name);
    return false;
}

bool WriteOutput(const Buffer& buffer, const char* name) {
    if (WriteBufferToFile(buffer.GetData(), PathArgument(name), buffer.GetSize()))
        return true;
    fprintf(stderr, "vexal-pack: cannot write %s\n", name);
    return false;
}

} // namespace

int RunDigest(int argc, char** argv) {
    if (argc < 1)
        return UsageOf("digest");
    int status = kExitOk;
    for (int i = 0; i < argc; ++i) {
        String path = PathArgument(argv[i]);
        // An unreadable file digests to zeros; say so rather than print a digest no file has.
        if (!FileExists(path)) {
            fprintf(stderr, "vexal-pack: cannot read %s\n", argv[i]);
            status = kExitFailed;
            continue;
        }
        Digest digest = DigestOfFile(path);
        char text[33];
        DigestToAscii(digest, text);
        printf("%s  %s\n", text, argv[i]);
    }
    return status;
}

int RunPack(int argc, char** argv) {
    int method = -1;
    int32_t level = -1;
    const char* files[2] = {_null, _null};
    int fileCount = 0;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--zlib") == 0 && method < 0) {
            method = kPackZlib;
        } else if (strcmp(argv[i], "--lzma") == 0 && method < 0) {
            method = kPackLzma;
        } else if (strcmp(argv[i], "--level") == 0 && i + 1 < argc) {
            char* end = _null;
            long value = strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || value < 0 || value > 9) {
                fprintf(stderr, "vexal-pack: the level is a number from 0 to 9\n");
                return UsageOf("pack");
            }
            level = int32_t(value);
        } else if (argv[i][0] != '-' && fileCount < 2) {
            files[fileCount++] = argv[i];
        } else {
            return UsageOf("pack");
        }
    }
    if (method < 0 || fileCount != 2)
        return UsageOf("pack");

    Buffer input;
    if (!ReadInput(input, files[0]))
        return kExitFailed;
    Buffer packed;
    if (!PackBuffer(PackMethod(method), level, input.GetData(), input.GetSize(), packed)) {
        fprintf(stderr, "vexal-pack: cannot pack %s\n", files[0]);
        return kExitFailed;
    }
    return WriteOutput(packed, files[1]) ? kExitOk : kExitFailed;
}

int RunUnpack(int argc, char** argv) {
    if (argc != 2 || argv[0][0] == '-' || argv[1][0] == '-')
        return UsageOf("unpack");
    Buffer buffer;
    if (!ReadInput(buffer, argv[0]))
        return kExitFailed;
    // UnpackBuffer writes its own log line on standard error when decoding fails.
    if (!UnpackBuffer(buffer))
        return kExitFailed;
    return WriteOutput(buffer, argv[1]) ? kExitOk : kExitFailed;
}
