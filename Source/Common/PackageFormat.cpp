// The package header's stored form, key, sizes, entries and name rules.
#include "Source/Common/PackageFormat.h"

#include <cstring>
#include <initializer_list>

#include "Source/Common/Memory.h"

namespace {

// The key every version-2 package carries is derived from this text and table.
const char kKeyText[] = "7c41d09e2b5f83a6c0e9d4b17a2f6e35";
// clang-format off
const uint8_t kKeyTable[128] = {
    0xAB, 0x2A, 0x9E, 0x86, 0xF3, 0x93, 0x25, 0x17, 0x4A, 0xE2, 0x13, 0x1F, 0xD8, 0x7D, 0x88, 0xAC,
    0xDD, 0x50, 0x4D, 0x78, 0x9D, 0x93, 0x87, 0x55, 0x39, 0x85, 0x43, 0x5B, 0xC3, 0xF2, 0xD2, 0x58,
    0x05, 0x75, 0x79, 0xCE, 0xF0, 0x74, 0x7E, 0x9B, 0x21, 0x7B, 0x89, 0xAA, 0x4C, 0xD1, 0x7C, 0xDE,
    0xD1, 0x29, 0xDA, 0x1A, 0x7B, 0xC4, 0x9F, 0xF7, 0x04, 0xA9, 0x1C, 0x5A, 0x52, 0xA5, 0x2C, 0x8D,
    0x45, 0xF5, 0x32, 0xE0, 0xAD, 0x56, 0xEE, 0xB5, 0x0C, 0x27, 0x90, 0x46, 0x77, 0x1D, 0x43, 0x11,
    0x08, 0x09, 0xCA, 0x46, 0xC1, 0x29, 0xAE, 0x27, 0x4B, 0xDE, 0xEC, 0xD4, 0xE1, 0xA6, 0x3B, 0xB7,
    0x42, 0xB5, 0x26, 0xC9, 0xB6, 0x90, 0x7B, 0x93, 0xC9, 0xAE, 0x75, 0x6D, 0x24, 0x21, 0x72, 0x4C,
    0x95, 0xC5, 0xC3, 0x52, 0xBE, 0x12, 0x6A, 0x05, 0xEA, 0x32, 0x8F, 0xE2, 0x0C, 0xA0, 0x80, 0x0E,
};
// clang-format on

constexpr uint32_t kTextBytes = VEXAL_HEADER_TEXT_UNITS * 2;

// Sequential little-endian writing and reading of the stored header.
class HeaderWriter {
public:
    explicit HeaderWriter(uint8_t* output) : mOut(output) {}
    void U32(uint32_t value) {
        for (int i = 0; i < 4; ++i) *mOut++ = uint8_t(value >> (8 * i));
    }
    void U64(uint64_t value) {
        U32(uint32_t(value));
        U32(uint32_t(value >> 32));
    }
    void Text(const void* field) {
        for (int i = 0; i < VEXAL_HEADER_TEXT_UNITS; ++i) {
            char16_t unit;
            std::memcpy(&unit, static_cast<const uint8_t*>(field) + 2 * i, 2);
            *mOut++ = uint8_t(unit);
            *mOut++ = uint8_t(unit >> 8);
        }
    }
    void Words(const void* field) {
        for (int i = 0; i < 4; ++i) {
            uint32_t word;
            std::memcpy(&word, static_cast<const uint8_t*>(field) + 4 * i, 4);
            U32(word);
        }
    }
    uint8_t* mOut;
};

class HeaderReader {
public:
    HeaderReader(const uint8_t* data, uint32_t size) : mData(data), mLeft(size) {}
    // Each field is read only when all its bytes are left; otherwise it stays as it was.
    void U32(void* field) {
        if (mLeft < 4) {
            mLeft = 0;
            return;
        }
        const uint32_t value = Little32(mData);
        std::memcpy(field, &value, 4);
        Skip(4);
    }
    void U64(void* field) {
        if (mLeft < 8) {
            mLeft = 0;
            return;
        }
        const uint64_t value = uint64_t(Little32(mData)) | (uint64_t(Little32(mData + 4)) << 32);
        std::memcpy(field, &value, 8);
        Skip(8);
    }
    void Text(void* field) {
        if (mLeft < kTextBytes) {
            mLeft = 0;
            return;
        }
        for (int i = 0; i < VEXAL_HEADER_TEXT_UNITS; ++i) {
            const char16_t unit = char16_t(mData[2 * i] | (mData[2 * i + 1] << 8));
            std::memcpy(static_cast<uint8_t*>(field) + 2 * i, &unit, 2);
        }
        Skip(kTextBytes);
    }
    void Words(void* field) {
        if (mLeft < 16) {
            mLeft = 0;
            return;
        }
        for (int i = 0; i < 4; ++i) U32(static_cast<uint8_t*>(field) + 4 * i);
    }

private:
    static uint32_t Little32(const uint8_t* bytes) {
        return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
    }
    void Skip(uint32_t count) {
        mData += count;
        mLeft -= count;
    }
    const uint8_t* mData;
    uint32_t mLeft;
};

bool IsSeparator(WideChar unit) { return unit == u'/' || unit == u'\\'; }

} // namespace

uint32_t StoredHeaderSize(uint32_t version) {
    return version == 2 ? VEXAL_HEADER_SIZE : VEXAL_HEADER_SIZE_NO_KEY;
}

uint32_t WritePackageHeader(const PackageHeader& header, uint8_t* output) {
    HeaderWriter writer(output);
    writer.U32(header.magic);
    writer.U32(header.version);
    writer.Text(header.name);
    writer.Text(header.cacheName);
    writer.U32(header.extra);
    if (header.version == 2) writer.Words(header.key);
    for (const ModuleEntry& entry : header.modules) {
        writer.Text(entry.fileName);
        writer.Words(entry.digest);
        writer.U32(entry.offset);
        writer.U32(entry.size);
    }
    for (const DataBlockEntry* block : {&header.blockA, &header.blockB}) {
        writer.Text(block->name);
        writer.U64(block->number);
        writer.U64(block->size);
        writer.U32(block->value1);
        writer.U32(block->value2);
        writer.Words(block->digest);
    }
    writer.Text(header.tailName);
    return uint32_t(writer.mOut - output);
}

bool ReadPackageHeader(const uint8_t* data, uint32_t size, PackageHeader& header) {
    FillBytes(&header, 0, sizeof(header));
    if (data == _null || size < 8) return false;
    HeaderReader reader(data, size);
    reader.U32(&header.magic);
    reader.U32(&header.version);
    reader.Text(header.name);
    reader.Text(header.cacheName);
    reader.U32(&header.extra);
    if (header.version == 2) reader.Words(header.key);
    for (ModuleEntry& entry : header.modules) {
        reader.Text(entry.fileName);
        reader.Words(entry.digest);
        reader.U32(&entry.offset);
        reader.U32(&entry.size);
    }
    for (DataBlockEntry* block : {&header.blockA, &header.blockB}) {
        reader.Text(block->name);
        reader.U64(&block->number);
        reader.U64(&block->size);
        reader.U32(&block->value1);
        reader.U32(&block->value2);
        reader.Words(block->digest);
    }
    reader.Text(header.tailName);
    constexpr int32_t last = VEXAL_HEADER_TEXT_UNITS - 1;
    header.name[last] = 0;
    header.cacheName[last] = 0;
    header.blockA.name[last] = 0;
    header.blockB.name[last] = 0;
    header.tailName[last] = 0;
    return true;
}

Digest PackageKeyDigest() {
    constexpr uint32_t textLength = sizeof(kKeyText) - 1;
    uint8_t bytes[16];
    for (uint32_t i = 0; i < 16; ++i) {
        uint8_t c = uint8_t(kKeyText[i % textLength]);
        bytes[i] = uint8_t(kKeyTable[c & 0x7F] ^ c);
    }
    return ComputeDigest(bytes, sizeof(bytes));
}

uint32_t ExpectedPackageSize(const PackageHeader& header) {
    // Only a version-2 header stores the key: every other version is 16 bytes shorter.
    uint32_t size = StoredHeaderSize(header.version) + ModuleSizeTotal(header);
    size += uint32_t(header.blockA.size);
    size += uint32_t(header.blockB.size);
    return size;
}

uint32_t ModuleSizeTotal(const PackageHeader& header) {
    uint32_t total = 0;
    for (const ModuleEntry& entry : header.modules) total += entry.size;
    return total;
}

String ModuleFileName(const ModuleEntry& entry) {
    int32_t length = 0;
    while (length < VEXAL_HEADER_TEXT_UNITS && entry.fileName[length] != 0) ++length;
    return String(entry.fileName, length);
}

bool ModuleHasFile(const ModuleEntry& entry) { return entry.fileName[0] != 0 && entry.fileName[0] != u'@'; }

Digest DigestFromWords(const void* words) {
    // The words sit in a packed header record, so they may be at any address.
    uint32_t aligned[4];
    std::memcpy(aligned, words, sizeof aligned);
    return Digest{aligned[0], aligned[1], aligned[2], aligned[3]};
}

namespace {

WideChar UpperAscii(WideChar unit) { return unit >= u'a' && unit <= u'z' ? WideChar(unit - u'a' + u'A') : unit; }

// A device name Windows reserves in every folder (CON, PRN, AUX, NUL, COM1-9, LPT1-9), whatever
// the case and whatever extension follows: "nul.txt" still opens the device there.
bool IsDeviceName(const WideChar* component, int32_t length) {
    int32_t stem = 0;
    while (stem < length && component[stem] != u'.') ++stem;
    // Blanks before the extension are dropped by Windows too ("CON .txt").
    while (stem > 0 && component[stem - 1] == u' ') --stem;
    WideChar upper[4];
    if (stem != 3 && stem != 4) return false;
    for (int32_t i = 0; i < stem; ++i) upper[i] = UpperAscii(component[i]);
    auto is = [&](const char* name) { return upper[0] == name[0] && upper[1] == name[1] && upper[2] == name[2]; };
    if (stem == 3) return is("CON") || is("PRN") || is("AUX") || is("NUL");
    return (is("COM") || is("LPT")) && upper[3] >= u'1' && upper[3] <= u'9';
}

// One component of a name from a package: never "..", never a drive ("C:") or a stream
// ("game.dll:hidden"), never a device name, and never ending in a dot or a blank, which Windows
// drops (so "game.dll." would be another name for game.dll there). A "." component is only
// allowed before a separator ("./game.so"), where it names the folder itself.
bool IsSafeComponent(const WideChar* component, int32_t length, bool last) {
    if (length == 1 && component[0] == u'.') return !last;
    if (length > 0 && (component[length - 1] == u'.' || component[length - 1] == u' ')) return false;
    for (int32_t i = 0; i < length; ++i)
        if (component[i] == u':') return false;
    return !IsDeviceName(component, length);
}

// Walks the components of a name of at most limit units; separator false for a single name.
bool IsSafeName(const WideChar* name, int32_t limit, bool separators) {
    if (IsSeparator(name[0])) return false;
    int32_t start = 0;
    for (int32_t i = 0;; ++i) {
        const WideChar unit = i < limit ? name[i] : 0;
        if (unit != 0 && !IsSeparator(unit)) continue;
        if (unit != 0 && !separators) return false;
        // A name ending in a separator names a folder: it can never be written as a file.
        if (unit == 0 && i == start) return false;
        if (!IsSafeComponent(name + start, i - start, unit == 0)) return false;
        if (unit == 0) return true;
        start = i + 1;
    }
}

} // namespace

bool IsSafeModuleFileName(const WideChar* fileName) {
    if (fileName == _null || fileName[0] == 0 || fileName[0] == u'@') return true;
    return IsSafeName(fileName, VEXAL_HEADER_TEXT_UNITS, true);
}

bool IsSafeCacheName(const WideChar* name) {
    if (name == _null || name[0] == 0) return false;
    return IsSafeName(name, VEXAL_HEADER_TEXT_UNITS, false);
}

String AddressBesidePackage(const WideChar* packageAddress, const WideChar* extension) {
    String address(packageAddress);
    int32_t end = 0;
    while (end < address.GetLength() && address[end] != u'?' && address[end] != u'#')
        ++end;
    address.Insert(end, extension);
    return address;
}
