// The PE reader: DOS header, "PE\0\0", the file header, the optional header's data directories,
// the section table to turn relative addresses into file offsets, then the export and import
// directories. Every offset is checked against the file's size before it is read.
#include "tools/pack/PeFile.h"

#include <cstring>

namespace {

class PeBytes {
public:
    PeBytes(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    bool Has(uint64_t offset, uint64_t length) const { return offset <= mSize && length <= mSize - offset; }
    uint16_t U16(size_t at) const {
        uint16_t value;
        std::memcpy(&value, mData + at, 2);
        return value;
    }
    uint32_t U32(size_t at) const {
        uint32_t value;
        std::memcpy(&value, mData + at, 4);
        return value;
    }
    // A text ending in 0 at a file offset, at most 256 bytes; false when it runs past the file.
    bool Text(uint64_t at, std::string& text) const {
        text.clear();
        for (uint64_t i = at; i < mSize && i < at + 256; ++i) {
            if (mData[i] == 0) return true;
            text += char(mData[i]);
        }
        return false;
    }

private:
    const uint8_t* mData;
    size_t mSize;
};

struct Section {
    uint32_t mAddress, mSize, mOffset, mRawSize;
};

// The file offset of a relative virtual address; false when no section's file data holds it.
bool ToOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t& offset) {
    for (const Section& section : sections) {
        uint32_t extent = section.mSize > section.mRawSize ? section.mRawSize : section.mSize;
        if (extent == 0) extent = section.mRawSize;
        if (rva >= section.mAddress && rva - section.mAddress < extent) {
            offset = uint64_t(section.mOffset) + (rva - section.mAddress);
            return true;
        }
    }
    return false;
}

} // namespace

bool LooksLikePe(const uint8_t* data, size_t size) { return size >= 2 && data[0] == 'M' && data[1] == 'Z'; }

bool ReadPeSummary(const uint8_t* data, size_t size, PeSummary& summary, std::string& error) {
    PeBytes bytes(data, size);
    if (!LooksLikePe(data, size) || !bytes.Has(0x3C, 4)) {
        error = "not a Windows executable (no MZ header)";
        return false;
    }
    const uint32_t pe = bytes.U32(0x3C);
    if (!bytes.Has(pe, 24) || std::memcmp(data + pe, "PE\0\0", 4) != 0) {
        error = "a DOS executable without a PE header";
        return false;
    }
    summary.mMachine = bytes.U16(pe + 4);
    const uint16_t sectionCount = bytes.U16(pe + 6);
    const uint16_t optionalSize = bytes.U16(pe + 20);
    summary.mIsDll = (bytes.U16(pe + 22) & 0x2000) != 0;
    const uint64_t optional = uint64_t(pe) + 24;
    if (!bytes.Has(optional, 2)) {
        error = "cut short in its optional header";
        return false;
    }
    summary.mMagic = bytes.U16(size_t(optional));
    // PE32: the data directories start 96 bytes in; PE32+: 112.
    const uint64_t directories = optional + (summary.mMagic == 0x20B ? 112 : 96);
    if (summary.mMagic != 0x10B && summary.mMagic != 0x20B) {
        error = "an unknown optional header";
        return false;
    }
    const uint32_t directoryCount = bytes.Has(directories - 4, 4) ? bytes.U32(size_t(directories - 4)) : 0;
    const uint64_t sectionTable = optional + optionalSize;
    if (!bytes.Has(sectionTable, uint64_t(sectionCount) * 40) || directoryCount < 2 ||
        !bytes.Has(directories, 16) || directories + 16 > sectionTable) {
        error = "cut short in its headers";
        return false;
    }
    std::vector<Section> sections;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        size_t at = size_t(sectionTable + uint64_t(i) * 40);
        sections.push_back({bytes.U32(at + 12), bytes.U32(at + 8), bytes.U32(at + 20), bytes.U32(at + 16)});
    }

    const uint32_t exportRva = bytes.U32(size_t(directories)), exportSize = bytes.U32(size_t(directories + 4));
    if (exportRva != 0 && exportSize != 0) {
        uint64_t table;
        if (!ToOffset(sections, exportRva, table) || !bytes.Has(table, 40)) {
            error = "damaged: its export directory lies outside the file";
            return false;
        }
        const uint32_t nameCount = bytes.U32(size_t(table + 24));
        uint64_t names;
        if (nameCount != 0 && (!ToOffset(sections, bytes.U32(size_t(table + 32)), names) || !bytes.Has(names, uint64_t(nameCount) * 4))) {
            error = "damaged: its export names lie outside the file";
            return false;
        }
        for (uint32_t i = 0; i < nameCount; ++i) {
            uint64_t at;
            std::string name;
            if (!ToOffset(sections, bytes.U32(size_t(names + uint64_t(i) * 4)), at) || !bytes.Text(at, name)) {
                error = "damaged: an export name lies outside the file";
                return false;
            }
            summary.mExports.insert(name);
        }
    }

    const uint32_t importRva = bytes.U32(size_t(directories + 8));
    if (importRva != 0) {
        uint64_t at;
        if (!ToOffset(sections, importRva, at)) {
            error = "damaged: its import directory lies outside the file";
            return false;
        }
        // Descriptors of 20 bytes, ended by one of zeros.
        for (;; at += 20) {
            if (!bytes.Has(at, 20)) {
                error = "damaged: its import directory runs past the file";
                return false;
            }
            const uint32_t nameRva = bytes.U32(size_t(at + 12));
            if (nameRva == 0 && bytes.U32(size_t(at)) == 0 && bytes.U32(size_t(at + 16)) == 0) break;
            uint64_t nameAt;
            std::string name;
            if (!ToOffset(sections, nameRva, nameAt) || !bytes.Text(nameAt, name)) {
                error = "damaged: an imported DLL's name lies outside the file";
                return false;
            }
            summary.mNeeded.push_back(name);
        }
    }
    return true;
}
