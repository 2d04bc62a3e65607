// Reading and judging a package's signature file as the loader would.
#include "tools/pack/SignatureReport.h"

#include <cstdio>
#include <ctime>

#include "Source/Common/Buffer.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Platform/File.h"
#include "tools/pack/Commands.h"
#include "tools/pack/PackageReport.h"

namespace {

// At most kSignatureFileLimit + 1 bytes: enough to tell a file that is too large.
bool ReadSignatureBytes(const std::string& path, std::string& bytes) {
    return ReadFileStart(path.c_str(), kSignatureFileLimit + 1, bytes);
}

// The first 1132 bytes of the package (fewer when it is shorter): what a header request receives.
std::string HeaderBytes(const char* package) {
    std::string bytes;
    ReadFileStart(package, kSignedHeaderSize, bytes);
    return bytes;
}

std::string UtcText(int64_t seconds) {
    time_t value = time_t(seconds);
    struct tm parts;
    char text[64];
#ifdef _WIN32
    const bool split = gmtime_s(&parts, &value) == 0; // the C runtime's argument order
#else
    const bool split = gmtime_r(&value, &parts) != _null;
#endif
    if (!split || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
        return "a date out of range";
    return text;
}

std::string HexOf(const Sha256Digest& digest) {
    char text[65];
    Sha256ToAscii(digest, text);
    return text;
}

} // namespace

std::string SignaturePath(const char* package) { return std::string(package) + ".sig"; }

bool JudgeSignatureFile(const char* package, const char* publicKeyFile, SignatureReport& report, std::string& error) {
    report = SignatureReport();
    report.mPath = SignaturePath(package);
    Buffer keyText;
    if (!ReadFileToBuffer(keyText, PathArgument(publicKeyFile))) {
        error = std::string("cannot read ") + publicKeyFile;
        return false;
    }
    // Lines or "|" both separate keys; the engine's list reader takes "|".
    std::string list(reinterpret_cast<const char*>(keyText.GetData()), keyText.GetSize());
    for (char& c : list)
        if (c == '\n' || c == '\r') c = '|';
    Array<Ed25519PublicKey> keys;
    if (ReadPublisherKeys(PathArgument(list.c_str()), keys) == 0) {
        error = std::string("no usable public key in ") + publicKeyFile;
        return false;
    }
    std::string bytes;
    if (!ReadSignatureBytes(report.mPath, bytes)) {
        report.mVerdict = kSignatureMissing;
        report.mReason = NarrowText(SignatureReasonText(SignatureCheck{kSignatureMissing, 0, 0, -1}));
        return true;
    }
    const std::string header = HeaderBytes(package);
    PackageHeader record;
    ReadPackageHeader(reinterpret_cast<const uint8_t*>(header.data()), uint32_t(header.size()), record);
    Sha256Digest headerSha;
    ComputeSha256(header.data(), header.size(), headerSha);
    const SignatureCheck check =
        JudgePackageSignature(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), keys, record, headerSha,
                              int64_t(time(_null)), 0, report.mFields);
    report.mVerdict = check.mVerdict;
    report.mKeyIndex = check.mKeyIndex;
    report.mReason = NarrowText(SignatureReasonText(check));
    return true;
}

void PrintSignatureVerdict(const SignatureReport& report) {
    if (report.mVerdict == kSignatureAccepted)
        printf("signature:   accepted, release %u, key %d of the list\n", report.mFields.mRelease, report.mKeyIndex + 1);
    else
        printf("signature:   refused (%s)\n", report.mReason.c_str());
}

void PrintSignatureFile(const char* package) {
    std::string path = SignaturePath(package);
    std::string bytes;
    if (!ReadSignatureBytes(path, bytes)) return;
    PackageSignature fields;
    SignatureVerdict verdict = ReadPackageSignature(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), fields);
    if (verdict != kSignatureAccepted) {
        printf("%-12s %s: %s, not read\n", "signature", path.c_str(),
               NarrowText(SignatureReasonText(SignatureCheck{verdict, 0, 0, -1})).c_str());
        return;
    }
    const std::string header = HeaderBytes(package);
    Sha256Digest headerSha;
    ComputeSha256(header.data(), header.size(), headerSha);
    printf("%-12s %s (%zu bytes; the signature is checked by verify --pubkey)\n", "signature", path.c_str(), bytes.size());
    printf("%-12s \"%s\"\n", "  package", NarrowText(fields.mPackage).c_str());
    printf("%-12s \"%s\"\n", "  cache", NarrowText(fields.mCache).c_str());
    printf("%-12s %u\n", "  release", fields.mRelease);
    if (fields.mHasExpiry)
        printf("%-12s %lld (%s)%s\n", "  expires", (long long)fields.mExpires, UtcText(fields.mExpires).c_str(),
               int64_t(time(_null)) >= fields.mExpires ? ", expired" : "");
    else
        printf("%-12s never\n", "  expires");
    printf("%-12s %s (%s)\n", "  header", HexOf(fields.mHeader).c_str(),
           fields.mHeader == headerSha ? "matches the package" : "differs from the package");
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i)
        if (fields.mModuleMask & (1u << i)) printf("  module %d   %s\n", i, HexOf(fields.mModules[i]).c_str());
}
