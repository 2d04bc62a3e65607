// The engine's digest: its vectors (RFC 1321 reversed except where the padding rule differs),
// piecewise chaining and file digests across the 64 KiB read size; SHA-256 beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Source/Common/Digest.h"
#include "Source/Common/Sha256.h"
#include "Source/Platform/File.h"
#include "support/ScratchFolder.h"

namespace {

// The bytes (i * 7 + 3) mod 256, so that every block differs.
std::vector<uint8_t> Pattern(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = uint8_t(i * 7 + 3);
    return bytes;
}

std::string Text(const Digest& digest) {
    return NarrowText(DigestToText(digest));
}

TEST(Digest, KnownTexts) {
    EXPECT_EQ(Text(ComputeDigest(nullptr, 0)), "7e42f8ec980980e904b2008fd98c1dd4");
    EXPECT_EQ(Text(ComputeDigest("abc", 3)), "727fe1287d3f96d6b04fd23c98500190");
    // A full last block gets no padding: not the RFC value (67733f79...).
    const std::string letters(64, 'a');
    EXPECT_EQ(Text(ComputeDigest(letters.data(), letters.size())), "0033e32569cade33125cd96289d4ff56");
}

TEST(Digest, PaddingRuleByLength) {
    struct Case {
        size_t length;
        const char* text;
    };
    // Lengths where the rule gives RFC 1321's digest, bytes reversed.
    const Case rfc[] = {
        {3, "416b2c498d1b125886ef230581e4aec9"},
        {55, "1bcb0d44118f3ffee58d19e174e5c052"},
        {57, "512c8073bcb1fc25ab5cc336d25d801c"},
        {63, "36a2f5b8f542f093768637e8596d2fa6"},
        {65, "97787b1644720f5aa8bdef7a2e66bd70"},
        {1000, "1acbf179806b6719ac82207f076f0410"},
    };
    for (const Case& c : rfc) {
        std::vector<uint8_t> bytes = Pattern(c.length);
        EXPECT_EQ(Text(ComputeDigest(bytes.data(), bytes.size())), c.text) << c.length;
    }
    // 56 more than a multiple of 64: the bit count overwrites the 0x80 byte (RFC would give
    // 18a58612... and dca5c8ab...); a multiple of 64 ends without a padding block.
    const Case engine[] = {
        {56, "08a37ad3c727e8db5fa2288d581ee330"},
        {120, "f80975a2824a1eb0b7a04af363f8a274"},
        {128, "64e70ccda7f849ae89c45454c2c8da3c"},
    };
    for (const Case& c : engine) {
        std::vector<uint8_t> bytes = Pattern(c.length);
        EXPECT_EQ(Text(ComputeDigest(bytes.data(), bytes.size())), c.text) << c.length;
    }
}

TEST(Digest, PiecesChainToTheWholeDigest) {
    const std::vector<uint8_t> bytes = Pattern(131072 + 56);
    const Digest whole = ComputeDigest(bytes.data(), bytes.size());
    EXPECT_EQ(Text(whole), "7052fb5df2351dc96f58d66c2aed8d11");

    const size_t pieceSizes[] = {64, 4096, 65536};
    for (size_t piece : pieceSizes) {
        Digest state = DigestStart();
        for (size_t at = 0; at < bytes.size(); at += piece) {
            const size_t length = std::min(piece, bytes.size() - at);
            state = ContinueDigest(state, bytes.data() + at, length, int64_t(bytes.size()));
        }
        EXPECT_EQ(state, whole) << piece;
    }
    // A total of -1 means the piece's own length.
    EXPECT_EQ(ContinueDigest(DigestStart(), bytes.data(), 1000), ComputeDigest(bytes.data(), 1000));
    // The bit count comes from the total, not from the piece.
    EXPECT_NE(ContinueDigest(DigestStart(), bytes.data(), 10, 11), ComputeDigest(bytes.data(), 10));
}

TEST(Digest, TextIsWordsDCBAInHex) {
    const Digest digest = {0x01234567u, 0x89abcdefu, 0x00000001u, 0xfedcba98u};
    EXPECT_EQ(Text(digest), "fedcba980000000189abcdef01234567");
    char ascii[33];
    DigestToAscii(digest, ascii);
    EXPECT_STREQ(ascii, "fedcba980000000189abcdef01234567");
    EXPECT_EQ(Text(Digest{0, 0, 0, 0}), std::string(32, '0'));
}

TEST(Digest, FilesAroundTheReadSize) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.IsValid());
    struct Case {
        size_t length;
        const char* text;
    };
    // 65536 bytes: one full read, no padding block; 65537: the one extra byte is padded (RFC).
    const Case cases[] = {
        {65536, "de09fb7b0433eb2779163942e3b3ac90"},
        {65537, "c857bc7dd87e029334c520b4a92bbe8b"},
        {131128, "7052fb5df2351dc96f58d66c2aed8d11"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = Pattern(c.length);
        const String path = scratch.Wide(std::string("f").append(std::to_string(c.length)));
        ASSERT_TRUE(WriteBufferToFile(bytes.data(), path, uint32_t(bytes.size())));
        EXPECT_EQ(Text(DigestOfFile(path)), c.text) << c.length;
    }
    ASSERT_TRUE(WriteBufferToFile(nullptr, scratch.Wide("empty"), 0));
    EXPECT_EQ(DigestOfFile(scratch.Wide("empty")), ComputeDigest(nullptr, 0));
    EXPECT_TRUE(DigestOfFile(scratch.Wide("missing")).IsZero());
    EXPECT_TRUE(DigestOfFile(scratch.Wide()).IsZero());

    // A stop that is not asked for changes nothing; an asked one gives the failed digest.
    std::atomic<bool> stop{false};
    const String path = scratch.Wide("f65537");
    EXPECT_EQ(Text(DigestOfFile(path, &stop)), "c857bc7dd87e029334c520b4a92bbe8b");
    stop = true;
    EXPECT_TRUE(DigestOfFile(path, &stop).IsZero());
}

std::string Hex(const Sha256Digest& digest) {
    char text[65];
    Sha256ToAscii(digest, text);
    return text;
}

TEST(Sha256, KnownAnswersInAnyPiecesAndWithTheDigestInOneRead) {
    Sha256Digest digest;
    ASSERT_TRUE(ComputeSha256(nullptr, 0, digest));
    EXPECT_EQ(Hex(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    ASSERT_TRUE(ComputeSha256("abc", 3, digest));
    EXPECT_EQ(Hex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // A million "a" in pieces of uneven sizes that straddle the 64-byte blocks.
    const std::string letters(1000000, 'a');
    Sha256 hash;
    for (size_t at = 0, piece = 1; at < letters.size(); at += piece, piece = piece * 3 % 1000 + 1)
        ASSERT_TRUE(hash.Add(letters.data() + at, std::min(piece, letters.size() - at)));
    ASSERT_TRUE(hash.Finish(digest));
    EXPECT_EQ(Hex(digest), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    // One read gives both digests exactly as the separate computations do, around the read size
    // where the engine's digest pads its own way.
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.IsValid());
    for (size_t length : {size_t(0), size_t(56), size_t(65536), size_t(65537), size_t(131128)}) {
        const std::vector<uint8_t> bytes = Pattern(length);
        const String path = scratch.Wide("s" + std::to_string(length));
        ASSERT_TRUE(WriteBufferToFile(bytes.data(), path, uint32_t(bytes.size())));
        Digest fileDigest;
        Sha256Digest fileSha, expected;
        ASSERT_TRUE(FileDigests(path, fileDigest, fileSha)) << length;
        ASSERT_TRUE(ComputeSha256(bytes.data(), bytes.size(), expected));
        EXPECT_EQ(fileDigest, DigestOfFile(path)) << length;
        EXPECT_EQ(Hex(fileSha), Hex(expected)) << length;
    }
    Digest fileDigest;
    Sha256Digest fileSha;
    EXPECT_FALSE(FileDigests(scratch.Wide("missing"), fileDigest, fileSha));
    EXPECT_TRUE(fileDigest.IsZero());
    std::atomic<bool> stop{true};
    EXPECT_FALSE(FileDigests(scratch.Wide("s65537"), fileDigest, fileSha, &stop));
    EXPECT_TRUE(fileDigest.IsZero());

    // The text form is read back only as written: lower case, exactly 64 characters.
    Sha256Digest read;
    const std::string text = Hex(digest);
    EXPECT_TRUE(Sha256FromAscii(text.c_str(), 64, read));
    EXPECT_EQ(read, digest);
    std::string upper = text;
    upper[0] = 'A';
    upper[1] = 'B';
    EXPECT_FALSE(Sha256FromAscii(upper.c_str(), 64, read));
    EXPECT_FALSE(Sha256FromAscii(text.c_str(), 63, read));
}

} // namespace
