// vexal-pack keygen | sign: the publisher's key pair and the signature file beside a package.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "Source/Common/Base64.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/Ed25519.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Common/PackageSignature.h"
#include "Source/Platform/File.h"
#include "tools/pack/Commands.h"
#include "tools/pack/CommandsPackage.h"
#include "tools/pack/PackageReport.h"
#include "tools/pack/SignatureReport.h"

namespace {

// The longest expiry a signature may be given: a hundred years.
constexpr long kMostDays = 36500;

// Creates path for the owner alone (mode 0600) and writes the bytes. An existing file is never
// replaced: a secret key written over by mistake cannot be had back.
bool WriteSecretFile(const std::string& path, const Buffer& content) {
    int handle = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (handle < 0) return false;
    const uint8_t* bytes = content.GetData();
    uint32_t done = 0;
    bool ok = true;
    while (ok && done < content.GetSize()) {
        ssize_t wrote = write(handle, bytes + done, content.GetSize() - done);
        if (wrote > 0) done += uint32_t(wrote);
        else ok = wrote < 0 && errno == EINTR;
    }
    ok = fsync(handle) == 0 && ok;
    ok = close(handle) == 0 && ok;
    if (!ok) unlink(path.c_str());
    return ok;
}

bool ReadWholeNumber(const char* text, unsigned long long maximum, unsigned long long& value) {
    if (text[0] < '1' || text[0] > '9') return false;
    char* end = _null;
    errno = 0;
    unsigned long long number = strtoull(text, &end, 10);
    if (errno != 0 || *end != 0 || number > maximum) return false;
    value = number;
    return true;
}

} // namespace

int RunKeygen(int argc, char** argv) {
    if (argc != 2 || strcmp(argv[0], "--out") != 0 || argv[1][0] == 0 || argv[1][0] == '-') return UsageOf("keygen");
    const std::string secretPath = std::string(argv[1]) + ".key";
    const std::string publicPath = std::string(argv[1]) + ".pub";
    if (FileExists(PathArgument(secretPath.c_str())) || FileExists(PathArgument(publicPath.c_str()))) {
        fprintf(stderr, "vexal-pack: %s or %s exists already; a key pair is never written over\n", secretPath.c_str(),
                publicPath.c_str());
        return kExitFailed;
    }
    Ed25519SecretKey key;
    Buffer pem;
    Ed25519PublicKey publicKey;
    if (!key.Generate() || !key.WritePem(pem) || !key.GetPublicKey(publicKey)) {
        fprintf(stderr, "vexal-pack: cannot make a key\n");
        return kExitFailed;
    }
    char text[Base64Length(kEd25519KeySize) + 2];
    Base64Encode(publicKey.bytes, sizeof(publicKey.bytes), text);
    const std::string line = std::string(text) + "\n";
    if (!WriteSecretFile(secretPath, pem)) {
        fprintf(stderr, "vexal-pack: cannot write %s\n", secretPath.c_str());
        return kExitFailed;
    }
    if (!WriteBufferToFile(line.data(), PathArgument(publicPath.c_str()), uint32_t(line.size()))) {
        fprintf(stderr, "vexal-pack: cannot write %s\n", publicPath.c_str());
        return kExitFailed;
    }
    printf("secret key  %s (keep it private; mode 0600)\n", secretPath.c_str());
    printf("public key  %s: %s\n", publicPath.c_str(), text);
    return kExitOk;
}

int RunSign(int argc, char** argv) {
    const char* package = _null;
    const char* keyPath = _null;
    unsigned long long release = 0, days = 0;
    bool haveRelease = false, haveExpiry = false;
    for (int i = 0; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--key") == 0 && hasValue && keyPath == _null) {
            keyPath = argv[++i];
        } else if (strcmp(argv[i], "--release") == 0 && hasValue && !haveRelease) {
            if (!ReadWholeNumber(argv[++i], 0xFFFFFFFFull, release)) {
                fprintf(stderr, "vexal-pack: the release is a number from 1 to 4294967295\n");
                return UsageOf("sign");
            }
            haveRelease = true;
        } else if (strcmp(argv[i], "--expires") == 0 && hasValue && !haveExpiry) {
            if (!ReadWholeNumber(argv[++i], kMostDays, days)) {
                fprintf(stderr, "vexal-pack: the expiry is a number of days from 1 to %ld\n", kMostDays);
                return UsageOf("sign");
            }
            haveExpiry = true;
        } else if (argv[i][0] != '-' && argv[i][0] != 0 && package == _null) {
            package = argv[i];
        } else {
            return UsageOf("sign");
        }
    }
    if (package == _null || keyPath == _null || !haveRelease) return UsageOf("sign");

    Buffer pem;
    Ed25519SecretKey key;
    if (!ReadFileToBuffer(pem, PathArgument(keyPath)) || !key.ReadPem(pem.GetData(), pem.GetSize())) {
        fprintf(stderr, "vexal-pack: %s is not an Ed25519 secret key (PEM) that can be read\n", keyPath);
        return kExitFailed;
    }
    // What is signed must be what verify accepts: a package the loader would refuse or could not
    // run is never vouched for.
    Sha256Digest modules[VEXAL_MODULE_COUNT];
    uint32_t sizes[VEXAL_MODULE_COUNT];
    if (!CheckPackage(package, _null, _null, false, modules, sizes)) {
        fprintf(stderr, "vexal-pack: %s does not pass verify (run vexal-pack verify %s); not signed\n", package, package);
        return kExitFailed;
    }
    std::string header;
    ReadFileStart(package, kSignedHeaderSize, header);
    PackageSignature fields;
    if (!DescribeSignedHeader(reinterpret_cast<const uint8_t*>(header.data()), uint32_t(header.size()), fields)) {
        fprintf(stderr, "vexal-pack: cannot read the header of %s\n", package);
        return kExitFailed;
    }
    // A player's release record is kept in a folder named by the cache name: the loader refuses
    // a signed package whose cache name cannot be one.
    if (!IsSafeCacheName(fields.mCache)) {
        fprintf(stderr, "vexal-pack: the cache name \"%s\" of %s is not usable: %s; not signed\n",
                NarrowText(fields.mCache).c_str(), package, kCacheNameRule);
        return kExitFailed;
    }
    fields.mRelease = uint32_t(release);
    if (haveExpiry) {
        fields.mHasExpiry = true;
        fields.mExpires = int64_t(time(_null)) + int64_t(days) * 86400;
    }
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i)
        if (fields.mModuleMask & (1u << i)) {
            fields.mModules[i] = modules[i];
            fields.mModuleSizes[i] = sizes[i];
        }
    Buffer output;
    if (!SignPackageSignature(fields, key, output)) {
        fprintf(stderr, "vexal-pack: cannot sign %s: its name and cache name must hold no control character\n",
                package);
        return kExitFailed;
    }
    const std::string path = SignaturePath(package);
    if (!ReplaceFileContents(PathArgument(path.c_str()), output.GetData(), output.GetSize())) {
        fprintf(stderr, "vexal-pack: cannot write %s\n", path.c_str());
        return kExitFailed;
    }
    printf("signed %s: %s, release %u%s\n", package, path.c_str(), fields.mRelease,
           haveExpiry ? (", expires in " + std::to_string(days) + " days").c_str() : "");
    return kExitOk;
}
