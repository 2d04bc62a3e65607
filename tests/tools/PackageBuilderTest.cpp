// The package builder: stored header layout, key, block layout, reading headers back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/Digest.h"
#include "Source/Common/PackageBuilder.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Platform/File.h"
#include "support/ScratchFolder.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

uint32_t U32At(const Buffer& buffer, uint32_t offset) {
    const uint8_t* p = buffer.GetData() + offset;
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

std::string Content(size_t size, int seed) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) text += "module " + std::to_string(seed) + " line " + std::to_string(i) + "\n";
    text.resize(size);
    return text;
}

// Unpacks a module's block out of a finished package and checks it against the original content.
void ExpectBlockHolds(const Buffer& package, const ModuleEntry& entry, const std::string& content) {
    ASSERT_LE(uint64_t(entry.offset) + entry.size, package.GetSize());
    Buffer block;
    ASSERT_TRUE(block.Set(package.GetData() + entry.offset, entry.size, true));
    ASSERT_TRUE(UnpackBuffer(block));
    ASSERT_EQ(block.GetSize(), content.size());
    EXPECT_EQ(0, memcmp(block.GetData(), content.data(), content.size()));
    Digest digest = ComputeDigest(content.data(), content.size());
    EXPECT_EQ(Digest({entry.digest[0], entry.digest[1], entry.digest[2], entry.digest[3]}), digest);
}

TEST(PackageBuilder, KeyMatchesTheKeyDataDerivation) {
    // MD5 of the 16 derived key bytes, computed independently: the stored key field holds the
    // RFC 1321 digest bytes in order (words A..D little-endian); the digest text reverses them.
    Digest key = PackageKeyDigest();
    EXPECT_EQ(DigestToText(key), String(u"5d53e799946e4350d039c2a0da568190"));
    PackageBuilder builder;
    std::string game = Content(1000, 0);
    ASSERT_TRUE(builder.AddModule(u"game.so", game.data(), uint32_t(game.size()), kPackZlib, -1));
    Buffer package;
    ASSERT_TRUE(builder.Finish(package));
    EXPECT_EQ(Hex(package.GetData() + 140, 16), "908156daa0c239d050436e9499e7535d");
}

TEST(PackageBuilder, StoredLayoutAndBlocks) {
    PackageBuilder builder;
    builder.SetName(u"Demo game");
    builder.SetCacheName(u"demo");
    std::string game = Content(70000, 1), data = Content(5000, 2), plain = Content(300, 3), blockA = Content(999, 4);
    ASSERT_TRUE(builder.AddModule(u"game.so", game.data(), uint32_t(game.size()), kPackZlib, 9));
    ASSERT_TRUE(builder.AddModule(u"data/one.dat", data.data(), uint32_t(data.size()), kPackLzma, 3));
    ASSERT_TRUE(builder.AddEntry(u"@sound"));
    ASSERT_TRUE(builder.AddPlainModule(u"plain.txt", plain.data(), uint32_t(plain.size())));
    ASSERT_TRUE(builder.SetDataBlock(0, u"extra.bin", blockA.data(), uint32_t(blockA.size())));
    Buffer package;
    ASSERT_TRUE(builder.Finish(package));
    const PackageHeader& header = builder.Header();

    // Fixed positions of the stored version-2 header.
    EXPECT_EQ(Hex(package.GetData(), 8), "0a0f0a0f02000000");
    EXPECT_EQ(package.GetData()[8], 'D');
    EXPECT_EQ(package.GetData()[9], 0);
    EXPECT_EQ(package.GetData()[72], 'd');
    EXPECT_EQ(package.GetData()[156], 'g');
    EXPECT_EQ(U32At(package, 156 + 80), 1132u);
    EXPECT_EQ(U32At(package, 156 + 84), header.modules[0].size);
    EXPECT_EQ(U32At(package, 860 + 64), header.modules[3].offset + header.modules[3].size); // block A number
    EXPECT_EQ(U32At(package, 860 + 72), uint32_t(blockA.size()));

    // Blocks follow one another in entry order, then block A; the package size adds up.
    EXPECT_EQ(header.modules[0].offset, 1132u);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(header.modules[i].offset, header.modules[i - 1].offset + header.modules[i - 1].size);
    EXPECT_EQ(header.modules[2].size, 0u);
    EXPECT_EQ(header.modules[2].digest[0] | header.modules[2].digest[1] | header.modules[2].digest[2] |
                  header.modules[2].digest[3],
              0u);
    EXPECT_EQ(ExpectedPackageSize(header), package.GetSize());
    ExpectBlockHolds(package, header.modules[0], game);
    ExpectBlockHolds(package, header.modules[1], data);
    ExpectBlockHolds(package, header.modules[3], plain);
    EXPECT_EQ(package.GetData()[header.modules[0].offset + 15], 1) << "zlib method byte";
    EXPECT_EQ(package.GetData()[header.modules[1].offset + 15], 0) << "LZMA method byte";
    EXPECT_EQ(header.modules[3].size, plain.size()) << "a plain module is stored as it is";
    EXPECT_EQ(0, memcmp(package.GetData() + header.blockA.number, blockA.data(), blockA.size()));

    // Reading the stored header back gives the same record.
    PackageHeader read;
    ASSERT_TRUE(ReadPackageHeader(package.GetData(), 1132, read));
    EXPECT_EQ(0, memcmp(&read, &header, sizeof(read)));

    // At most eight entries.
    for (int i = 4; i < 8; ++i) ASSERT_TRUE(builder.AddEntry(u"@more"));
    EXPECT_FALSE(builder.AddEntry(u"@ninth"));
    EXPECT_FALSE(builder.AddPlainModule(u"ninth", "x", 1));
}

TEST(PackageBuilder, VersionOneHeaderHasNoKey) {
    PackageBuilder builder;
    builder.SetVersion(1);
    std::string game = Content(4000, 5);
    ASSERT_TRUE(builder.AddModule(u"game.so", game.data(), uint32_t(game.size()), kPackLzma, -1));
    Buffer package;
    ASSERT_TRUE(builder.Finish(package));
    const PackageHeader& header = builder.Header();
    EXPECT_EQ(header.modules[0].offset, 1116u);
    EXPECT_EQ(package.GetSize(), 1116u + header.modules[0].size);
    EXPECT_EQ(ExpectedPackageSize(header), package.GetSize());
    EXPECT_EQ(package.GetData()[140], 'g') << "the entries follow extra directly";
    // The loader's 1132-byte request also receives 16 bytes of the first block; they are not read.
    PackageHeader read;
    ASSERT_TRUE(ReadPackageHeader(package.GetData(), 1132, read));
    EXPECT_EQ(read.version, 1u);
    EXPECT_EQ(read.key[0] | read.key[1] | read.key[2] | read.key[3], 0u);
    EXPECT_EQ(0, memcmp(read.modules, header.modules, sizeof(read.modules)));
    ExpectBlockHolds(package, read.modules[0], game);
}

TEST(PackageBuilder, FileAndMemoryGiveTheSameBytes) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.IsValid());
    PackageBuilder builder;
    std::string game = Content(20000, 6), blockB = Content(10, 7);
    ASSERT_TRUE(builder.AddModule(u"game.so", game.data(), uint32_t(game.size()), kPackLzma, 1));
    ASSERT_TRUE(builder.SetDataBlock(1, u"b", blockB.data(), uint32_t(blockB.size())));
    Buffer package;
    ASSERT_TRUE(builder.Finish(package));
    ASSERT_TRUE(builder.WriteToFile(scratch.Wide("out/p.vpk")));
    std::string written = ReadNativeFile(scratch.Native("out/p.vpk"));
    ASSERT_EQ(written.size(), package.GetSize());
    EXPECT_EQ(0, memcmp(written.data(), package.GetData(), written.size()));
    uint64_t number = builder.Header().blockB.number; // a packed field: copied, not referenced
    EXPECT_EQ(number, 1132u + builder.Header().modules[0].size);
}

} // namespace
