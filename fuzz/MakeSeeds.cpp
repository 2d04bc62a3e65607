// Writes the binary seeds of the fuzz corpus: package headers as the package builder stores them
// (version 2 with the key, version 1 followed by block bytes, an unsafe module name, a cut
// header), packed blocks (zlib, LZMA, claimed sizes of 0 and 0xFFFFFFFF) and signature files
// (with and without expiry, a name outside ASCII, one cut short), and delta files (whole and cut).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/DeltaFile.h"
#include "Source/Common/PackageBuilder.h"
#include "Source/Common/PackageSignature.h"

namespace {

bool Write(const std::string& path, const uint8_t* bytes, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes), std::streamsize(size));
    return bool(file);
}

const char kContent[] = "game module bytes, repeated: game module bytes, repeated: game module bytes";

bool Header(const std::string& folder, const char* name, uint32_t version, const WideChar* moduleName, size_t cut) {
    PackageBuilder builder;
    builder.SetVersion(version);
    builder.SetName(u"Seed Game");
    builder.SetCacheName(u"SeedGame");
    if (!builder.AddModule(moduleName, kContent, sizeof(kContent), kPackZlib, 6)) return false;
    builder.AddModule(u"data/level1.pak", kContent, 20, kPackLzma, 1);
    builder.AddEntry(u"@config");
    builder.SetDataBlock(0, u"blockA", kContent, 10);
    Buffer package;
    if (!builder.Finish(package) || package.GetSize() < VEXAL_HEADER_SIZE) return false;
    return Write(folder + "/package_header/" + name, package.GetData(), cut);
}

bool Block(const std::string& folder, const char* name, PackMethod method, uint32_t claimed) {
    Buffer block;
    if (!PackBuffer(method, 6, kContent, sizeof(kContent), block)) return false;
    if (claimed != 1)
        for (int i = 0; i < 4; ++i) block.GetData()[kPackedSizeOffset + i] = uint8_t(claimed >> (8 * i));
    return Write(folder + "/unpack_buffer/" + name, block.GetData(), block.GetSize());
}

// A signature file for a package like Header's, signed with a fresh key; cut shortens it.
bool Signature(const std::string& folder, const char* name, const WideChar* packageName, bool expires, size_t cut,
               uint32_t version = 2) {
    PackageBuilder builder;
    builder.SetName(packageName);
    builder.SetCacheName(u"SeedGame");
    if (!builder.AddModule(u"vexal3d.vob", kContent, sizeof(kContent), kPackZlib, 6)) return false;
    builder.AddEntry(u"@config");
    builder.AddModule(u"data/level1.pak", kContent, 20, kPackLzma, 1);
    Buffer package;
    PackageSignature fields;
    Ed25519SecretKey key;
    if (!builder.Finish(package) || !DescribeSignedHeader(package.GetData(), kSignedHeaderSize, fields) ||
        !key.Generate())
        return false;
    fields.mRelease = 12;
    fields.mVersion = version;
    fields.mHasExpiry = expires;
    fields.mExpires = 1900000000;
    ComputeSha256(kContent, sizeof(kContent), fields.mModules[0]);
    ComputeSha256(kContent, 20, fields.mModules[2]);
    fields.mModuleSizes[0] = sizeof(kContent);
    fields.mModuleSizes[2] = 20;
    Buffer file;
    if (!SignPackageSignature(fields, key, file)) return false;
    return Write(folder + "/signature_file/" + name, file.GetData(), cut < file.GetSize() ? cut : file.GetSize());
}

// A delta file whose patch rebuilds the content from its first half, with a second record for
// another file; cut shortens it.
bool Delta(const std::string& folder, const char* name, size_t cut) {
    const uint32_t half = sizeof(kContent) / 2;
    Buffer patch;
    if (!MakePatch(reinterpret_cast<const uint8_t*>(kContent), half, reinterpret_cast<const uint8_t*>(kContent),
                   sizeof(kContent), 3, patch))
        return false;
    Array<DeltaPatch> patches;
    DeltaPatch record = {};
    const char16_t moduleName[] = u"vexal3d.vob";
    for (size_t i = 0; i < sizeof(moduleName) / 2; ++i) record.fileName[i] = moduleName[i];
    record.oldDigest = ComputeDigest(kContent, half);
    record.newDigest = ComputeDigest(kContent, sizeof(kContent));
    record.offset = kDeltaPreambleSize + 2 * kDeltaRecordSize;
    record.size = patch.GetSize();
    record.newSize = sizeof(kContent);
    patches.Append(record);
    record.fileName[0] = u'w';
    record.offset += patch.GetSize();
    patches.Append(record);
    Buffer file;
    if (!WriteDeltaIndex(patches, file) || !file.Append(patch.GetData(), patch.GetSize()) ||
        !file.Append(patch.GetData(), patch.GetSize()))
        return false;
    return Write(folder + "/delta_index/" + name, file.GetData(), cut < file.GetSize() ? cut : file.GetSize());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vexal-fuzz-seeds <corpus folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = Header(folder, "version2.bin", 2, u"vexal3d.vob", VEXAL_HEADER_SIZE) &&
                    Header(folder, "version1.bin", 1, u"vexal3d.vob", VEXAL_HEADER_SIZE) &&
                    Header(folder, "unsafe-name.bin", 2, u"../outside.vob", VEXAL_HEADER_SIZE) &&
                    Header(folder, "cut.bin", 2, u"vexal3d.vob", 300) &&
                    Block(folder, "zlib.bin", kPackZlib, 1) && Block(folder, "lzma.bin", kPackLzma, 1) &&
                    Block(folder, "claims-zero.bin", kPackZlib, 0) &&
                    Block(folder, "claims-4gib.bin", kPackLzma, 0xFFFFFFFFu) &&
                    Block(folder, "claims-less.bin", kPackLzma, 16) &&
                    Write(folder + "/unpack_buffer/plain.bin", reinterpret_cast<const uint8_t*>(kContent), sizeof(kContent)) &&
                    Signature(folder, "signed.sig", u"Seed Game", false, SIZE_MAX) &&
                    Signature(folder, "expires.sig", u"Seed Gam\u00e9 \U0001F3AE", true, SIZE_MAX) &&
                    Signature(folder, "cut.sig", u"Seed Game", true, 200) &&
                    Signature(folder, "version1.sig", u"Seed Game", true, SIZE_MAX, 1) &&
                    Delta(folder, "two-patches.delta", SIZE_MAX) && Delta(folder, "cut.delta", 100);
    if (!ok) std::fprintf(stderr, "vexal-fuzz-seeds: could not write the seeds\n");
    return ok ? 0 : 1;
}
