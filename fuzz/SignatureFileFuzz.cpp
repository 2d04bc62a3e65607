// Signature files as a mirror may serve them: read by the loader's reader, which takes only the
// canonical form, so whatever it accepts must be written back byte for byte; then judged against
// a publisher key and a header, which no input can pass without the publisher's signature.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "Source/Common/Base64.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/PackageSignature.h"

namespace {

// A fixed publisher key (RFC 8032's first test key) and an empty header.
const uint8_t kPublicKey[32] = {0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe,
                                0xd3, 0xc9, 0x64, 0x07, 0x3a, 0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6,
                                0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a};

void CheckName(const WideChar* name) {
    FUZZ_CHECK(name[VEXAL_HEADER_TEXT_UNITS - 1] == 0);
    for (int32_t i = 0; i < VEXAL_HEADER_TEXT_UNITS && name[i] != 0; ++i)
        FUZZ_CHECK(name[i] >= 0x20 && (name[i] < 0x7F || name[i] > 0x9F));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size > kSignatureFileLimit + 64)
        return -1;

    PackageSignature fields;
    std::memset(&fields, 0xA5, sizeof(fields));
    const SignatureVerdict verdict = ReadPackageSignature(data, size, fields);
    FUZZ_CHECK(verdict == kSignatureAccepted || verdict == kSignatureDamaged || verdict == kSignatureTooLarge);
    FUZZ_CHECK((verdict == kSignatureTooLarge) == (size > kSignatureFileLimit));
    if (verdict != kSignatureAccepted)
        return 0;

    FUZZ_CHECK(fields.mRelease >= 1);
    FUZZ_CHECK(!fields.mHasExpiry || fields.mExpires >= 1);
    FUZZ_CHECK(fields.mSignedSize < size);
    CheckName(fields.mPackage);
    CheckName(fields.mCache);

    // Canonical: the fields give the very bytes they were read from.
    Buffer written;
    FUZZ_CHECK(WriteSignedText(fields, written));
    FUZZ_CHECK(written.GetSize() == fields.mSignedSize);
    FUZZ_CHECK(std::memcmp(written.GetData(), data, fields.mSignedSize) == 0);
    char base64[Base64Length(kEd25519SignatureSize) + 1];
    Base64Encode(fields.mSignature, kEd25519SignatureSize, base64);
    const std::string line = std::string("signature ") + base64 + "\n";
    FUZZ_CHECK(size - fields.mSignedSize == line.size());
    FUZZ_CHECK(std::memcmp(data + fields.mSignedSize, line.data(), line.size()) == 0);

    // No input carries the publisher's signature, so none is accepted, whatever header it names.
    Array<Ed25519PublicKey> keys;
    Ed25519PublicKey key;
    std::memcpy(key.bytes, kPublicKey, sizeof(kPublicKey));
    keys.Append(key);
    PackageHeader header;
    std::memset(&header, 0, sizeof(header));
    std::memcpy(header.name, fields.mPackage, sizeof(header.name));
    std::memcpy(header.cacheName, fields.mCache, sizeof(header.cacheName));
    PackageSignature judged;
    const SignatureCheck check = JudgePackageSignature(data, size, keys, header, fields.mHeader, 0, 0, judged);
    FUZZ_CHECK(check.mVerdict == kSignatureBadSignature);
    FUZZ_CHECK(!SignatureReasonText(check).IsEmpty());
    return 0;
}
