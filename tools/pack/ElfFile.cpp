// ELF reading for the package tool: the header, the dynamic section through the program
// headers (as the dynamic loader finds it) and the dynamic symbols. Every offset and count comes
// from the file, so each is checked against its size before it is used.
#include "tools/pack/ElfFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kProgramLoad = 1;
constexpr uint32_t kProgramDynamic = 2;
constexpr uint32_t kSectionDynamicSymbols = 11;
constexpr int64_t kDynamicNull = 0;
constexpr int64_t kDynamicNeeded = 1;
constexpr int64_t kDynamicHash = 4;
constexpr int64_t kDynamicStrings = 5;
constexpr int64_t kDynamicSymbols = 6;
constexpr int64_t kDynamicStringsSize = 10;
constexpr int64_t kDynamicRPath = 15;
constexpr int64_t kDynamicRunPath = 29;
constexpr int64_t kDynamicGnuHash = 0x6ffffef5;
constexpr size_t kSymbolSize = 24;
// A bound on the symbols walked, far above what any game module exports.
constexpr uint64_t kMaximumSymbols = 1u << 22;

// Little-endian reads of a 64-bit file's fields; the callers check the range first.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    bool Has(uint64_t offset, uint64_t count) const { return offset <= mSize && count <= mSize - offset; }
    uint8_t U8(uint64_t offset) const { return mData[offset]; }
    uint16_t U16(uint64_t offset) const { return uint16_t(mData[offset] | mData[offset + 1] << 8); }
    uint32_t U32(uint64_t offset) const {
        uint32_t value;
        std::memcpy(&value, mData + offset, 4);
        return value;
    }
    uint64_t U64(uint64_t offset) const {
        uint64_t value;
        std::memcpy(&value, mData + offset, 8);
        return value;
    }
    // The NUL-terminated text at offset inside [begin, end); false when it runs past end.
    bool Text(uint64_t begin, uint64_t end, uint64_t offset, std::string& text) const {
        if (end > mSize || offset < begin || offset >= end) return false;
        const void* nul = std::memchr(mData + offset, 0, size_t(end - offset));
        if (nul == nullptr) return false;
        text.assign(reinterpret_cast<const char*>(mData + offset), static_cast<const uint8_t*>(nul) - (mData + offset));
        return true;
    }

private:
    const uint8_t* mData;
    size_t mSize;
};

struct Segment {
    uint64_t mOffset, mAddress, mFileSize;
};

// The file offset of a virtual address inside one of the loaded segments.
bool AddressToOffset(const std::vector<Segment>& segments, uint64_t address, uint64_t& offset) {
    for (const Segment& segment : segments) {
        if (address >= segment.mAddress && address - segment.mAddress < segment.mFileSize) {
            offset = segment.mOffset + (address - segment.mAddress);
            return true;
        }
    }
    return false;
}

void SplitFolders(const std::string& text, std::vector<std::string>& folders) {
    size_t start = 0;
    for (;;) {
        size_t colon = text.find(':', start);
        std::string folder = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!folder.empty()) folders.push_back(folder);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
}

// How many entries the dynamic symbol table has: the section header says so when there is one;
// otherwise the symbol hash tables do, as they cover every symbol the dynamic loader looks up.
bool CountSymbols(const Bytes& bytes, uint64_t tableOffset, uint64_t hashOffset, uint64_t gnuHashOffset,
                  uint64_t sectionOffset, uint64_t sectionCount, uint64_t& count) {
    for (uint64_t i = 0; sectionOffset != 0 && i < sectionCount; ++i) {
        uint64_t header = sectionOffset + i * 64;
        if (!bytes.Has(header, 64)) break;
        if (bytes.U32(header + 4) == kSectionDynamicSymbols && bytes.U64(header + 24) == tableOffset) {
            count = bytes.U64(header + 32) / kSymbolSize;
            return true;
        }
    }
    if (hashOffset != 0 && bytes.Has(hashOffset, 8)) {
        count = bytes.U32(hashOffset + 4);
        return true;
    }
    if (gnuHashOffset == 0 || !bytes.Has(gnuHashOffset, 16)) return false;
    uint64_t buckets = bytes.U32(gnuHashOffset), first = bytes.U32(gnuHashOffset + 4);
    uint64_t bloomWords = bytes.U32(gnuHashOffset + 8);
    uint64_t bucketOffset = gnuHashOffset + 16 + bloomWords * 8;
    if (buckets > kMaximumSymbols || bloomWords > kMaximumSymbols || !bytes.Has(bucketOffset, buckets * 4)) return false;
    uint64_t last = 0;
    for (uint64_t i = 0; i < buckets; ++i) last = std::max<uint64_t>(last, bytes.U32(bucketOffset + i * 4));
    if (last < first) {
        count = first;
        return true;
    }
    // Follow the chain of the highest bucket to its end (the entry with the low bit set).
    uint64_t chainOffset = bucketOffset + buckets * 4;
    for (; last < kMaximumSymbols; ++last) {
        uint64_t entry = chainOffset + (last - first) * 4;
        if (!bytes.Has(entry, 4)) return false;
        if (bytes.U32(entry) & 1) break;
    }
    count = last + 1;
    return true;
}

} // namespace

std::string ElfMachineName(uint16_t machine) {
    switch (machine) {
    case kElfMachineX86_64: return "x86-64";
    case 3: return "x86 (32-bit)";
    case 40: return "ARM (32-bit)";
    case 183: return "AArch64";
    case 243: return "RISC-V";
    default: return "machine " + std::to_string(machine);
    }
}

bool ReadElfSummary(const uint8_t* data, size_t size, ElfSummary& summary, std::string& error) {
    summary = ElfSummary();
    Bytes bytes(data, size);
    if (!bytes.Has(0, 20) || std::memcmp(data, "\x7f"
                                               "ELF",
                                         4) != 0) {
        error = "not an ELF file (no ELF magic number at its start)";
        return false;
    }
    summary.mClass = bytes.U8(4);
    summary.mEncoding = bytes.U8(5);
    if (summary.mEncoding == 1) {
        summary.mType = bytes.U16(16);
        summary.mMachine = bytes.U16(18);
    } else {
        summary.mType = uint16_t(data[16] << 8 | data[17]);
        summary.mMachine = uint16_t(data[18] << 8 | data[19]);
    }
    if (summary.mClass != 2 || summary.mEncoding != 1) return true;
    if (!bytes.Has(0, 64)) {
        error = "the ELF header is cut short";
        return false;
    }
    const uint64_t programOffset = bytes.U64(32), sectionOffset = bytes.U64(40);
    const uint16_t programSize = bytes.U16(54), programCount = bytes.U16(56);
    const uint16_t sectionSize = bytes.U16(58), sectionCount = bytes.U16(60);
    if (programCount != 0 && (programSize != 56 || !bytes.Has(programOffset, uint64_t(programCount) * 56))) {
        error = "the program headers lie outside the file";
        return false;
    }
    std::vector<Segment> segments;
    uint64_t dynamicOffset = 0, dynamicSize = 0;
    for (uint16_t i = 0; i < programCount; ++i) {
        uint64_t header = programOffset + uint64_t(i) * 56;
        uint32_t type = bytes.U32(header);
        if (type == kProgramLoad)
            segments.push_back(Segment{bytes.U64(header + 8), bytes.U64(header + 16), bytes.U64(header + 32)});
        else if (type == kProgramDynamic) {
            dynamicOffset = bytes.U64(header + 8);
            dynamicSize = bytes.U64(header + 32);
            summary.mHasDynamic = true;
        }
    }
    if (!summary.mHasDynamic) return true;
    if (!bytes.Has(dynamicOffset, dynamicSize)) {
        error = "the dynamic section lies outside the file";
        return false;
    }

    uint64_t stringsAddress = 0, stringsSize = 0, symbolsAddress = 0, hashAddress = 0, gnuHashAddress = 0;
    std::vector<uint64_t> needed, runPath, rPath;
    for (uint64_t entry = dynamicOffset; entry + 16 <= dynamicOffset + dynamicSize; entry += 16) {
        int64_t tag = int64_t(bytes.U64(entry));
        uint64_t value = bytes.U64(entry + 8);
        if (tag == kDynamicNull) break;
        switch (tag) {
        case kDynamicNeeded: needed.push_back(value); break;
        case kDynamicRunPath: runPath.push_back(value); break;
        case kDynamicRPath: rPath.push_back(value); break;
        case kDynamicStrings: stringsAddress = value; break;
        case kDynamicStringsSize: stringsSize = value; break;
        case kDynamicSymbols: symbolsAddress = value; break;
        case kDynamicHash: hashAddress = value; break;
        case kDynamicGnuHash: gnuHashAddress = value; break;
        default: break;
        }
    }
    uint64_t strings = 0;
    if (!AddressToOffset(segments, stringsAddress, strings) || !bytes.Has(strings, stringsSize)) {
        error = "the dynamic string table lies outside the file";
        return false;
    }
    const uint64_t stringsEnd = strings + stringsSize;
    auto text = [&](uint64_t offset, std::string& out) {
        return offset < stringsSize && bytes.Text(strings, stringsEnd, strings + offset, out);
    };
    std::string item;
    for (uint64_t offset : needed) {
        if (!text(offset, item)) {
            error = "a needed library's name lies outside the dynamic string table";
            return false;
        }
        summary.mNeeded.push_back(item);
    }
    for (uint64_t offset : runPath)
        if (text(offset, item)) SplitFolders(item, summary.mRunPath);
    for (uint64_t offset : rPath)
        if (text(offset, item)) SplitFolders(item, summary.mRPath);

    uint64_t symbols = 0, hash = 0, gnuHash = 0, count = 0;
    if (!AddressToOffset(segments, symbolsAddress, symbols)) {
        error = "the dynamic symbol table lies outside the file";
        return false;
    }
    if (hashAddress != 0) AddressToOffset(segments, hashAddress, hash);
    if (gnuHashAddress != 0) AddressToOffset(segments, gnuHashAddress, gnuHash);
    uint64_t sections = sectionSize == 64 ? sectionOffset : 0;
    if (!CountSymbols(bytes, symbols, hash, gnuHash, sections, sectionCount, count) || count > kMaximumSymbols ||
        !bytes.Has(symbols, count * kSymbolSize)) {
        error = "the dynamic symbol table is cut short";
        return false;
    }
    for (uint64_t i = 1; i < count; ++i) {
        uint64_t symbol = symbols + i * kSymbolSize;
        uint8_t info = bytes.U8(symbol + 4), visibility = bytes.U8(symbol + 5) & 3;
        uint16_t section = bytes.U16(symbol + 6);
        uint8_t binding = info >> 4, type = info & 15;
        // Defined (not undefined, section 0), global, weak or unique, default or protected.
        bool exported = section != 0 && (binding == 1 || binding == 2 || binding == 10) &&
                        (visibility == 0 || visibility == 3);
        if (!exported || !text(bytes.U32(symbol), item) || item.empty()) continue;
        summary.mExports[item] = type == 2 || type == 10;
    }
    return true;
}
