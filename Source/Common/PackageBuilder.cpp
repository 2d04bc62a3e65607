// Building package files: the header record filled in, the blocks laid out behind it.
#include "Source/Common/PackageBuilder.h"

#include <cstring>
#include <initializer_list>

#include "Source/Common/Memory.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Platform/File.h"

namespace {

constexpr uint32_t kTextBytes = VEXAL_HEADER_TEXT_UNITS * 2;

// The header's fields lie packed at any address: they are read and written through memcpy, never
// through a typed pointer or reference, which would assume their natural alignment.
void CopyText(void* field, const WideChar* text) {
    FillBytes(field, 0, kTextBytes);
    for (int32_t i = 0; text != _null && i < VEXAL_HEADER_TEXT_UNITS - 1 && text[i] != 0; ++i)
        std::memcpy(static_cast<uint8_t*>(field) + 2 * i, &text[i], 2);
}

} // namespace

PackageBuilder::PackageBuilder() : mEntryCount(0) {
    FillBytes(&mHeader, 0, sizeof(mHeader));
    mHeader.magic = VEXAL_PACKAGE_MAGIC;
    mHeader.version = 2;
    Digest key = PackageKeyDigest();
    mHeader.key[0] = key.a;
    mHeader.key[1] = key.b;
    mHeader.key[2] = key.c;
    mHeader.key[3] = key.d;
}

PackageBuilder::~PackageBuilder() = default;

void PackageBuilder::SetName(const WideChar* name) { CopyText(mHeader.name, name); }
void PackageBuilder::SetCacheName(const WideChar* cacheName) { CopyText(mHeader.cacheName, cacheName); }

bool PackageBuilder::AddBlock(const WideChar* fileName, Buffer& block, const Digest& digest) {
    if (mEntryCount >= VEXAL_MODULE_COUNT) return false;
    ModuleEntry& entry = mHeader.modules[mEntryCount];
    CopyText(entry.fileName, fileName);
    entry.digest[0] = digest.a;
    entry.digest[1] = digest.b;
    entry.digest[2] = digest.c;
    entry.digest[3] = digest.d;
    entry.offset = 0;
    entry.size = block.GetSize();
    mBlocks[mEntryCount].Swap(block);
    ++mEntryCount;
    return true;
}

bool PackageBuilder::AddModule(const WideChar* fileName, const void* content, uint32_t size, PackMethod method,
                               int32_t level) {
    if (mEntryCount >= VEXAL_MODULE_COUNT) return false;
    Buffer block;
    if (!PackBuffer(method, level, content, size, block)) return false;
    return AddBlock(fileName, block, ComputeDigest(content, size));
}

bool PackageBuilder::AddPlainModule(const WideChar* fileName, const void* content, uint32_t size) {
    if (mEntryCount >= VEXAL_MODULE_COUNT) return false;
    Buffer block;
    if (size != 0 && !block.Set(content, size, true)) return false;
    return AddBlock(fileName, block, ComputeDigest(content, size));
}

bool PackageBuilder::AddEntry(const WideChar* fileName) {
    Buffer empty;
    return AddBlock(fileName, empty, Digest{0, 0, 0, 0});
}

bool PackageBuilder::SetDataBlock(int32_t index, const WideChar* name, const void* content, uint32_t size) {
    if (index < 0 || index > 1) return false;
    Buffer& block = mDataBlocks[index];
    block.Clear();
    if (size != 0 && !block.Set(content, size, true)) return false;
    DataBlockEntry& entry = index == 0 ? mHeader.blockA : mHeader.blockB;
    FillBytes(&entry, 0, sizeof(entry));
    CopyText(entry.name, name);
    entry.size = size;
    Digest digest = ComputeDigest(content, size);
    entry.digest[0] = digest.a;
    entry.digest[1] = digest.b;
    entry.digest[2] = digest.c;
    entry.digest[3] = digest.d;
    return true;
}

uint64_t PackageBuilder::Layout() {
    uint64_t position = StoredHeaderSize(mHeader.version);
    for (uint32_t i = 0; i < mEntryCount; ++i) {
        mHeader.modules[i].offset = uint32_t(position);
        mHeader.modules[i].size = mBlocks[i].GetSize();
        position += mBlocks[i].GetSize();
    }
    DataBlockEntry* dataEntries[2] = {&mHeader.blockA, &mHeader.blockB};
    for (int32_t i = 0; i < 2; ++i) {
        if (mDataBlocks[i].GetSize() == 0) continue;
        dataEntries[i]->number = position;
        dataEntries[i]->size = mDataBlocks[i].GetSize();
        position += mDataBlocks[i].GetSize();
    }
    return position >= 0xFFFFFFFFull ? 0 : position;
}

bool PackageBuilder::Finish(Buffer& output) {
    uint64_t total = Layout();
    if (total == 0) return false;
    Buffer package;
    if (!package.Allocate(uint32_t(total))) return false;
    uint8_t* out = package.GetData();
    out += WritePackageHeader(mHeader, out);
    for (const Buffer* block : {&mBlocks[0], &mBlocks[1], &mBlocks[2], &mBlocks[3], &mBlocks[4], &mBlocks[5],
                                &mBlocks[6], &mBlocks[7], &mDataBlocks[0], &mDataBlocks[1]}) {
        if (block->GetSize() == 0) continue;
        CopyBytes(out, block->GetData(), block->GetSize());
        out += block->GetSize();
    }
    output.Swap(package);
    return true;
}

bool PackageBuilder::WriteToFile(const WideChar* path) {
    uint64_t total = Layout();
    if (total == 0) return false;
    uint8_t header[VEXAL_HEADER_SIZE];
    uint32_t headerSize = WritePackageHeader(mHeader, header);
    File file;
    if (!file.CreateForWriting(path) || !file.Write(header, headerSize)) return false;
    for (const Buffer* block : {&mBlocks[0], &mBlocks[1], &mBlocks[2], &mBlocks[3], &mBlocks[4], &mBlocks[5],
                                &mBlocks[6], &mBlocks[7], &mDataBlocks[0], &mDataBlocks[1]}) {
        if (block->GetSize() != 0 && !file.Write(block->GetData(), block->GetSize())) return false;
    }
    file.Close();
    return true;
}
