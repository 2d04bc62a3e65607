// Signature files of packages: the canonical reader and writer, the judgement, the key list and
// the release record.
#include "Source/Common/PackageSignature.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "Source/Common/Base64.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/Memory.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"

namespace {

// Every text this module reads, writes or logs.
namespace SignatureText {
constexpr char kFirstLine[] = "vexal-signature %u";
constexpr char kPackage[] = "package";
constexpr char kCache[] = "cache";
constexpr char kRelease[] = "release";
constexpr char kExpires[] = "expires";
constexpr char kHeader[] = "header";
constexpr char kModule[] = "module";
constexpr char kSignature[] = "signature";
constexpr const WideChar* kExtension = u".sig";
constexpr const WideChar* kKeyNotUsable = u"[Loader] Voa key not usable: %ls";
constexpr const WideChar* kReleaseDamaged = u"[Loader] Release file damaged, counted as 0: %ls";
constexpr const WideChar* kReleasePath = u"%ls/vexal/%ls/release";
constexpr const WideChar* kGameRecordPath = u"%ls/vexal-game";
constexpr const WideChar* kGameDamaged = u"[Loader] Game record damaged, not used: %ls";
constexpr const WideChar* kOlderRelease = u"older release %u < %u";
constexpr const WideChar* kReasons[] = {
    u"",
    u"missing",
    u"damaged",
    u"too large",
    u"unknown key",
    u"bad signature",
    u"other package",
    u"header differs",
    u"expired",
    u"",
    u"other game",
    u"cache name not usable",
};
} // namespace SignatureText

// The versions read; the last is the one written (module lines with sizes).
constexpr uint32_t kFirstVersion = 1;
constexpr uint32_t kCurrentVersion = 2;
constexpr size_t kSignatureTextLength = Base64Length(kEd25519SignatureSize);
// A release file holds a number of at most 10 digits and a line end; anything longer is damage.
constexpr int64_t kReleaseFileLimit = 16;
// A game record holds a cache name of at most 31 units (4 bytes of UTF-8 at most for 2 units).
constexpr int64_t kGameRecordLimit = 128;
constexpr int32_t kNameUnits = VEXAL_HEADER_TEXT_UNITS - 1;

// Control characters (C0, DEL, C1) never appear in a name line: they would end or blur it.
bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

// Strict UTF-8 (no overlong form, no surrogate, nothing above U+10FFFF) into at most 31 units
// of UTF-16, NUL-terminated; no control character.
bool ReadName(const char* text, size_t length, WideChar name[VEXAL_HEADER_TEXT_UNITS]) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
    int32_t units = 0;
    size_t at = 0;
    while (at < length) {
        const uint8_t lead = bytes[at];
        uint32_t code;
        size_t count;
        uint32_t minimum;
        if (lead < 0x80) {
            code = lead;
            count = 1;
            minimum = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1F;
            count = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0F;
            count = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07;
            count = 4;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (length - at < count)
            return false;
        for (size_t k = 1; k < count; ++k) {
            if ((bytes[at + k] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (bytes[at + k] & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || IsControl(code))
            return false;
        if (code >= 0x10000) {
            if (units + 2 > kNameUnits)
                return false;
            code -= 0x10000;
            name[units++] = WideChar(0xD800 + (code >> 10));
            name[units++] = WideChar(0xDC00 + (code & 0x3FF));
        } else {
            if (units + 1 > kNameUnits)
                return false;
            name[units++] = WideChar(code);
        }
        at += count;
    }
    for (int32_t i = units; i < VEXAL_HEADER_TEXT_UNITS; ++i)
        name[i] = 0;
    return true;
}

// The UTF-8 form of a name (surrogate pairs joined); false for a lone surrogate or a control
// character, which the reader would refuse.
bool AppendName(Buffer& output, const WideChar* name) {
    for (int32_t i = 0; i < kNameUnits && name[i] != 0; ++i) {
        uint32_t code = name[i];
        if (code >= 0xDC00 && code <= 0xDFFF)
            return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            const uint32_t low = i + 1 < kNameUnits ? name[i + 1] : 0;
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        if (IsControl(code))
            return false;
        uint8_t bytes[4];
        uint32_t count;
        if (code < 0x80) {
            bytes[0] = uint8_t(code);
            count = 1;
        } else if (code < 0x800) {
            bytes[0] = uint8_t(0xC0 | code >> 6);
            bytes[1] = uint8_t(0x80 | (code & 0x3F));
            count = 2;
        } else if (code < 0x10000) {
            bytes[0] = uint8_t(0xE0 | code >> 12);
            bytes[1] = uint8_t(0x80 | ((code >> 6) & 0x3F));
            bytes[2] = uint8_t(0x80 | (code & 0x3F));
            count = 3;
        } else {
            bytes[0] = uint8_t(0xF0 | code >> 18);
            bytes[1] = uint8_t(0x80 | ((code >> 12) & 0x3F));
            bytes[2] = uint8_t(0x80 | ((code >> 6) & 0x3F));
            bytes[3] = uint8_t(0x80 | (code & 0x3F));
            count = 4;
        }
        if (!output.Append(bytes, count))
            return false;
    }
    return true;
}

// Decimal digits without sign or leading zero, from 1 to maximum.
bool ReadNumber(const char* text, size_t length, uint64_t maximum, uint64_t& value);

// A size: "0", or a number as ReadNumber reads it.
bool ReadSize(const char* text, size_t length, uint32_t& value) {
    uint64_t number = 0;
    if (length == 1 && text[0] == '0')
        value = 0;
    else if (ReadNumber(text, length, UINT32_MAX, number))
        value = uint32_t(number);
    else
        return false;
    return true;
}

bool ReadNumber(const char* text, size_t length, uint64_t maximum, uint64_t& value) {
    if (length == 0 || length > 19 || text[0] == '0')
        return false;
    uint64_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + uint64_t(text[i] - '0');
    }
    if (number > maximum)
        return false;
    value = number;
    return true;
}

// The file's lines, each ending with "\n"; bytes after the last "\n" are no line.
class LineReader {
public:
    LineReader(const char* data, size_t size) : mData(data), mSize(size), mAt(0) {}

    // The next line without its "\n"; false when no complete line is left.
    bool Next(const char*& line, size_t& length) {
        const void* end = mAt < mSize ? memchr(mData + mAt, '\n', mSize - mAt) : _null;
        if (end == _null)
            return false;
        line = mData + mAt;
        length = size_t(static_cast<const char*>(end) - line);
        mStart = mAt;
        mAt += length + 1;
        return true;
    }
    size_t LineStart() const { return mStart; }
    bool AtEnd() const { return mAt == mSize; }

private:
    const char* mData;
    size_t mSize;
    size_t mAt;
    size_t mStart = 0;
};

// "<name> <value>": true with the value when the line begins with the name and one blank.
bool Field(const char* line, size_t length, const char* name, const char*& value, size_t& valueLength) {
    const size_t nameLength = strlen(name);
    if (length <= nameLength || memcmp(line, name, nameLength) != 0 || line[nameLength] != ' ')
        return false;
    value = line + nameLength + 1;
    valueLength = length - nameLength - 1;
    return true;
}

bool IsLine(const char* line, size_t length, const char* text) {
    return length == strlen(text) && memcmp(line, text, length) == 0;
}

bool AppendText(Buffer& output, const char* text) { return output.Append(text, uint32_t(strlen(text))); }

bool AppendLine(Buffer& output, const char* name, const char* value) {
    return AppendText(output, name) && AppendText(output, " ") && AppendText(output, value) &&
           AppendText(output, "\n");
}

// A header text field (packed, at any address) as units, NUL-terminated at 31 at the latest.
void CopyHeaderText(WideChar text[VEXAL_HEADER_TEXT_UNITS], const void* field) {
    memcpy(text, field, VEXAL_HEADER_TEXT_UNITS * sizeof(WideChar));
    text[VEXAL_HEADER_TEXT_UNITS - 1] = 0;
}

bool SameText(const WideChar* a, const WideChar* b) {
    for (int32_t i = 0; i < VEXAL_HEADER_TEXT_UNITS; ++i) {
        if (a[i] != b[i])
            return false;
        if (a[i] == 0)
            return true;
    }
    return true;
}

// Bit i set for each entry of the header that names a file (not empty, not "@" first).
uint8_t ModuleMaskOf(const PackageHeader& header) {
    uint8_t mask = 0;
    for (int32_t i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        if (ModuleHasFile(header.modules[i]))
            mask = uint8_t(mask | 1u << i);
    }
    return mask;
}

// A small record beside the player's files (the release, the game): a regular file of 1 to limit
// bytes, read whole. Missing: false with damaged clear. Anything else that stands at the path (a
// folder, a link to a non-file or to nothing, a device, an unreadable or oversized file): false
// with damaged set.
bool LoadRecord(const WideChar* path, int64_t limit, Buffer& content, bool& damaged) {
    damaged = false;
    if (path == _null || path[0] == 0)
        return false;
    const PathKind kind = PathKindOf(path);
    if (kind == kPathMissing)
        return false;
    damaged = true;
    if (kind != kPathFile)
        return false;
    File file;
    if (!file.OpenForReading(path))
        return false;
    const int64_t size = file.GetSize();
    if (size <= 0 || size > limit || !file.ReadAll(content) || content.GetSize() != uint32_t(size))
        return false;
    damaged = false;
    return true;
}

// The stored release, 0 for none; damaged is set when something is there but holds no release.
uint32_t LoadRelease(const WideChar* path, bool& damaged) {
    Buffer content;
    if (!LoadRecord(path, kReleaseFileLimit, content, damaged))
        return 0;
    const char* text = reinterpret_cast<const char*>(content.GetData());
    size_t length = content.GetSize();
    if (text[length - 1] == '\n')
        --length;
    uint64_t release = 0;
    if (!ReadNumber(text, length, UINT32_MAX, release)) {
        damaged = true;
        return 0;
    }
    return uint32_t(release);
}

} // namespace

String SignatureReasonText(const SignatureCheck& check) {
    if (check.mVerdict == kSignatureOlderRelease)
        return Format(SignatureText::kOlderRelease, check.mRelease, check.mHighest);
    if (check.mVerdict < kSignatureAccepted || check.mVerdict > kSignatureCacheNotUsable)
        return String(SignatureText::kReasons[kSignatureDamaged]);
    return String(SignatureText::kReasons[check.mVerdict]);
}

SignatureVerdict ReadPackageSignature(const uint8_t* data, size_t size, PackageSignature& signature) {
    FillBytes(&signature, 0, sizeof(signature));
    if (size > kSignatureFileLimit)
        return kSignatureTooLarge;
    if (data == _null || size == 0)
        return kSignatureDamaged;
    LineReader lines(reinterpret_cast<const char*>(data), size);
    const char* line;
    size_t length;
    const char* value;
    size_t valueLength;
    uint64_t number = 0;

    if (!lines.Next(line, length))
        return kSignatureDamaged;
    for (uint32_t version = kFirstVersion; version <= kCurrentVersion && signature.mVersion == 0; ++version) {
        char first[32];
        snprintf(first, sizeof(first), SignatureText::kFirstLine, version);
        if (IsLine(line, length, first))
            signature.mVersion = version;
    }
    if (signature.mVersion == 0)
        return kSignatureDamaged;
    // An empty name is written "package " and nothing more: the blank is required, a value not.
    if (!lines.Next(line, length) || !Field(line, length, SignatureText::kPackage, value, valueLength) ||
        !ReadName(value, valueLength, signature.mPackage))
        return kSignatureDamaged;
    if (!lines.Next(line, length) || !Field(line, length, SignatureText::kCache, value, valueLength) ||
        !ReadName(value, valueLength, signature.mCache))
        return kSignatureDamaged;
    if (!lines.Next(line, length) || !Field(line, length, SignatureText::kRelease, value, valueLength) ||
        !ReadNumber(value, valueLength, UINT32_MAX, number))
        return kSignatureDamaged;
    signature.mRelease = uint32_t(number);
    if (!lines.Next(line, length))
        return kSignatureDamaged;
    if (Field(line, length, SignatureText::kExpires, value, valueLength)) {
        if (!ReadNumber(value, valueLength, uint64_t(INT64_MAX), number))
            return kSignatureDamaged;
        signature.mHasExpiry = true;
        signature.mExpires = int64_t(number);
        if (!lines.Next(line, length))
            return kSignatureDamaged;
    }
    if (!Field(line, length, SignatureText::kHeader, value, valueLength) ||
        !Sha256FromAscii(value, valueLength, signature.mHeader))
        return kSignatureDamaged;

    int32_t lastModule = -1;
    for (;;) {
        if (!lines.Next(line, length))
            return kSignatureDamaged;
        if (Field(line, length, SignatureText::kModule, value, valueLength)) {
            // "<index> [<size> ]<hex>", indexes rising: a second line for an entry is no second
            // opinion.
            if (valueLength < 66 || value[0] < '0' || value[0] > '7' || value[1] != ' ')
                return kSignatureDamaged;
            const int32_t index = value[0] - '0';
            const size_t sizeLength = valueLength - 67;
            if (signature.mVersion == kFirstVersion ? valueLength != 66
                                                    : valueLength < 68 || value[2 + sizeLength] != ' ' ||
                                                          !ReadSize(value + 2, sizeLength, signature.mModuleSizes[index]))
                return kSignatureDamaged;
            if (index <= lastModule || !Sha256FromAscii(value + valueLength - 64, 64, signature.mModules[index]))
                return kSignatureDamaged;
            signature.mModuleMask = uint8_t(signature.mModuleMask | 1u << index);
            lastModule = index;
            continue;
        }
        if (!Field(line, length, SignatureText::kSignature, value, valueLength) ||
            valueLength != kSignatureTextLength)
            return kSignatureDamaged;
        size_t decoded = 0;
        if (!Base64Decode(value, valueLength, signature.mSignature, sizeof(signature.mSignature), &decoded) ||
            decoded != kEd25519SignatureSize)
            return kSignatureDamaged;
        signature.mSignedSize = uint32_t(lines.LineStart());
        // The signature line is the last: nothing may follow it, not even a blank line.
        return lines.AtEnd() ? kSignatureAccepted : kSignatureDamaged;
    }
}

bool DescribeSignedHeader(const uint8_t* headerBytes, uint32_t size, PackageSignature& signature) {
    FillBytes(&signature, 0, sizeof(signature));
    PackageHeader header;
    if (headerBytes == _null || size != kSignedHeaderSize || !ReadPackageHeader(headerBytes, size, header) ||
        !ComputeSha256(headerBytes, size, signature.mHeader))
        return false;
    CopyHeaderText(signature.mPackage, header.name);
    CopyHeaderText(signature.mCache, header.cacheName);
    signature.mModuleMask = ModuleMaskOf(header);
    signature.mVersion = kCurrentVersion;
    return true;
}

bool WriteSignedText(const PackageSignature& signature, Buffer& output) {
    output.Clear();
    if (signature.mRelease == 0 || (signature.mHasExpiry && signature.mExpires < 1) ||
        signature.mVersion < kFirstVersion || signature.mVersion > kCurrentVersion)
        return false;
    char number[24];
    char hex[65];
    char first[32];
    snprintf(first, sizeof(first), SignatureText::kFirstLine, signature.mVersion);
    bool ok = AppendText(output, first) && AppendText(output, "\n") &&
              AppendText(output, SignatureText::kPackage) && AppendText(output, " ") &&
              AppendName(output, signature.mPackage) && AppendText(output, "\n") &&
              AppendText(output, SignatureText::kCache) && AppendText(output, " ") &&
              AppendName(output, signature.mCache) && AppendText(output, "\n");
    snprintf(number, sizeof(number), "%u", signature.mRelease);
    ok = ok && AppendLine(output, SignatureText::kRelease, number);
    if (signature.mHasExpiry) {
        snprintf(number, sizeof(number), "%lld", (long long)signature.mExpires);
        ok = ok && AppendLine(output, SignatureText::kExpires, number);
    }
    Sha256ToAscii(signature.mHeader, hex);
    ok = ok && AppendLine(output, SignatureText::kHeader, hex);
    for (int32_t i = 0; ok && i < VEXAL_MODULE_COUNT; ++i) {
        if ((signature.mModuleMask & (1u << i)) == 0)
            continue;
        char value[80];
        Sha256ToAscii(signature.mModules[i], hex);
        if (signature.mVersion == kFirstVersion)
            snprintf(value, sizeof(value), "%d %s", int(i), hex);
        else
            snprintf(value, sizeof(value), "%d %u %s", int(i), signature.mModuleSizes[i], hex);
        ok = AppendLine(output, SignatureText::kModule, value);
    }
    if (!ok)
        output.Clear();
    return ok;
}

bool SignPackageSignature(PackageSignature& signature, const Ed25519SecretKey& key, Buffer& output) {
    if (!WriteSignedText(signature, output))
        return false;
    char text[kSignatureTextLength + 1];
    if (!key.Sign(output.GetData(), output.GetSize(), signature.mSignature)) {
        output.Clear();
        return false;
    }
    signature.mSignedSize = output.GetSize();
    Base64Encode(signature.mSignature, kEd25519SignatureSize, text);
    if (!AppendLine(output, SignatureText::kSignature, text)) {
        output.Clear();
        return false;
    }
    return true;
}

String SignatureAddress(const WideChar* packageAddress) {
    return AddressBesidePackage(packageAddress, SignatureText::kExtension);
}

int32_t ReadPublisherKeys(const WideChar* list, Array<Ed25519PublicKey>& keys) {
    int32_t taken = 0;
    if (list == _null)
        return 0;
    for (int32_t start = 0;;) {
        int32_t end = start;
        while (list[end] != 0 && list[end] != u'|')
            ++end;
        int32_t first = start;
        int32_t last = end;
        while (first < last && (list[first] == u' ' || list[first] == u'\t'))
            ++first;
        while (last > first && (list[last - 1] == u' ' || list[last - 1] == u'\t'))
            --last;
        if (last > first) {
            // A key is 44 characters; anything that is not plain ASCII of that length is no key.
            char text[Base64Length(kEd25519KeySize) + 1];
            const int32_t length = last - first;
            bool ascii = length == int32_t(Base64Length(kEd25519KeySize));
            for (int32_t i = 0; ascii && i < length; ++i) {
                ascii = list[first + i] < 0x80;
                text[i] = char(list[first + i]);
            }
            Ed25519PublicKey key;
            size_t decoded = 0;
            if (ascii && Base64Decode(text, size_t(length), key.bytes, sizeof(key.bytes), &decoded) &&
                decoded == kEd25519KeySize && !IsSmallOrderEd25519Key(key) && keys.Append(key)) {
                ++taken;
            } else {
                LogTrace(SignatureText::kKeyNotUsable, String(list + first, length).Data());
            }
        }
        if (list[end] == 0)
            return taken;
        start = end + 1;
    }
}

SignatureCheck CheckPackageSignature(const uint8_t* file, const PackageSignature& signature,
                                     const Array<Ed25519PublicKey>& keys, const PackageHeader& header,
                                     const Sha256Digest& headerSha256, int64_t now, uint32_t highestRelease) {
    SignatureCheck check = {kSignatureAccepted, signature.mRelease, highestRelease, -1};
    if (keys.GetCount() == 0) {
        check.mVerdict = kSignatureUnknownKey;
        return check;
    }
    for (int32_t i = 0; i < keys.GetCount() && check.mKeyIndex < 0; ++i) {
        if (file != _null && VerifyEd25519(keys[i], file, signature.mSignedSize, signature.mSignature))
            check.mKeyIndex = i;
    }
    WideChar name[VEXAL_HEADER_TEXT_UNITS];
    WideChar cacheName[VEXAL_HEADER_TEXT_UNITS];
    CopyHeaderText(name, header.name);
    CopyHeaderText(cacheName, header.cacheName);
    if (check.mKeyIndex < 0)
        check.mVerdict = kSignatureBadSignature;
    else if (!SameText(signature.mPackage, name) || !SameText(signature.mCache, cacheName))
        check.mVerdict = kSignatureOtherPackage;
    else if (signature.mHeader != headerSha256)
        check.mVerdict = kSignatureHeaderDiffers;
    else if (signature.mModuleMask != ModuleMaskOf(header))
        check.mVerdict = kSignatureDamaged;
    else if (signature.mHasExpiry && now >= signature.mExpires)
        check.mVerdict = kSignatureExpired;
    else if (signature.mRelease < highestRelease)
        check.mVerdict = kSignatureOlderRelease;
    return check;
}

SignatureCheck JudgePackageSignature(const uint8_t* data, size_t size, const Array<Ed25519PublicKey>& keys,
                                     const PackageHeader& header, const Sha256Digest& headerSha256, int64_t now,
                                     uint32_t highestRelease, PackageSignature& signature) {
    // Without a key nothing the file says can be trusted, so it is not even read.
    if (keys.GetCount() == 0) {
        FillBytes(&signature, 0, sizeof(signature));
        return SignatureCheck{kSignatureUnknownKey, 0, highestRelease, -1};
    }
    const SignatureVerdict read = ReadPackageSignature(data, size, signature);
    if (read != kSignatureAccepted)
        return SignatureCheck{read, 0, highestRelease, -1};
    return CheckPackageSignature(data, signature, keys, header, headerSha256, now, highestRelease);
}

String AcceptedReleasePath(const WideChar* profileFolder, const WideChar* cacheName) {
    if (profileFolder == _null || profileFolder[0] == 0 || !IsSafeCacheName(cacheName))
        return String();
    return SystemPath(Format(SignatureText::kReleasePath, profileFolder, cacheName));
}

uint32_t ReadAcceptedRelease(const WideChar* path) {
    bool damaged = false;
    const uint32_t release = LoadRelease(path, damaged);
    if (damaged)
        LogTrace(SignatureText::kReleaseDamaged, path);
    return release;
}

bool RecordAcceptedRelease(const WideChar* path, uint32_t release) {
    if (path == _null || path[0] == 0 || release == 0)
        return false;
    bool damaged = false;
    if (LoadRelease(path, damaged) >= release)
        return true;
    char text[16];
    const int length = snprintf(text, sizeof(text), "%u\n", release);
    return ReplaceFileContents(path, text, uint32_t(length));
}

String GameRecordPath(const WideChar* cacheFolder) {
    if (cacheFolder == _null || cacheFolder[0] == 0)
        return String();
    return Format(SignatureText::kGameRecordPath, cacheFolder);
}

bool ReadGameRecord(const WideChar* path, WideChar game[VEXAL_HEADER_TEXT_UNITS]) {
    FillBytes(game, 0, VEXAL_HEADER_TEXT_UNITS * sizeof(WideChar));
    Buffer content;
    bool damaged = false;
    if (LoadRecord(path, kGameRecordLimit, content, damaged)) {
        const char* text = reinterpret_cast<const char*>(content.GetData());
        const size_t length = content.GetSize();
        if (text[length - 1] == '\n' && ReadName(text, length - 1, game) && IsSafeCacheName(game))
            return true;
        damaged = true;
    }
    if (damaged)
        LogTrace(SignatureText::kGameDamaged, path);
    FillBytes(game, 0, VEXAL_HEADER_TEXT_UNITS * sizeof(WideChar));
    return false;
}

bool RecordGame(const WideChar* path, const WideChar* game) {
    if (path == _null || path[0] == 0 || !IsSafeCacheName(game))
        return false;
    Buffer text;
    return AppendName(text, game) && AppendText(text, "\n") &&
           ReplaceFileContents(path, text.GetData(), text.GetSize());
}
