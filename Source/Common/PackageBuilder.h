// Building package files: a builder that packs module contents into blocks behind the header.
// The header's stored form, the key and the sizes are the package format's (PackageFormat.h).
#pragma once

#include "Common/Types.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/Digest.h"
#include "Vexal3DLoader.h"

// Builds a package in memory: entries are added in order (at most eight), then Finish lays out
// the blocks behind the header and writes the whole file. The header record stays open for
// changes until Finish and after it (tests break packages on purpose), and WritePackageHeader can
// then write it over the start of a finished package. Not thread-safe; one builder per package.
class PackageBuilder {
public:
    // A version-2 header with the package magic and the package key; every other field zero.
    PackageBuilder();
    ~PackageBuilder();
    PackageBuilder(const PackageBuilder&) = delete;
    PackageBuilder& operator=(const PackageBuilder&) = delete;

    // The record that will be stored. Offsets of entries and blocks are recomputed by Finish.
    PackageHeader& Header() { return mHeader; }
    const PackageHeader& Header() const { return mHeader; }
    uint32_t GetEntryCount() const { return mEntryCount; }

    // Sets the version; 2 stores the key, any other value leaves it out (a 1116-byte header).
    void SetVersion(uint32_t version) { mHeader.version = version; }
    // Copies at most 31 units of the text into the field (NUL-terminated).
    void SetName(const WideChar* name);
    void SetCacheName(const WideChar* cacheName);

    // Adds the next module entry named fileName (at most 31 units are stored) whose file holds
    // content: the block is content packed with method at level (see PackBuffer), the digest is
    // that of content. False (nothing added) when eight entries exist or packing fails.
    bool AddModule(const WideChar* fileName, const void* content, uint32_t size, PackMethod method, int32_t level);
    // The same with the content stored as it is (a block the loader takes as plain data).
    bool AddPlainModule(const WideChar* fileName, const void* content, uint32_t size);
    // Adds an entry without a block: size 0, digest all zero (fileName usually begins with "@").
    bool AddEntry(const WideChar* fileName);
    // Sets data block A (index 0) or B (index 1): stored unpacked after the module blocks; its
    // number is its offset in the package, its size and digest those of content.
    bool SetDataBlock(int32_t index, const WideChar* name, const void* content, uint32_t size);

    // Lays the blocks out (module blocks in entry order right after the stored header, then block
    // A, then block B), fills offsets and sizes into the header and writes header and blocks into
    // output (replacing its contents). False when the package would reach 4 GiB or memory runs out.
    bool Finish(Buffer& output);
    // The same layout, written straight to a file (created or replaced) without holding the
    // whole package in memory twice. False when the layout fails or the file cannot be written.
    bool WriteToFile(const WideChar* path);

private:
    // Fills offsets and sizes into the header; returns the package size, 0 from 4 GiB on.
    uint64_t Layout();
    bool AddBlock(const WideChar* fileName, Buffer& block, const Digest& digest);

    PackageHeader mHeader;
    uint32_t mEntryCount;
    Buffer mBlocks[VEXAL_MODULE_COUNT];
    Buffer mDataBlocks[2];
};
