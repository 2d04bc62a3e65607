// Packed blocks: every edge of UnpackBuffer, both decoders' failures and their log lines, and
// blocks made by other encoders (fixtures).
#include <gtest/gtest.h>

#include <cstring>
#include <lzma.h>
#include <string>
#include <vector>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Platform/Log.h"
#include "support/ScratchFolder.h"

namespace {

std::string Contents(const Buffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize());
}

void SetContents(Buffer& buffer, const std::string& bytes) {
    ASSERT_TRUE(buffer.Set(bytes.data(), uint32_t(bytes.size()), true));
}

std::string Fixture(const std::string& name) {
    return ReadNativeFile(std::string(VEXAL_TEST_DATA_DIR) + "/common/" + name);
}

std::string Sample() {
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "block " + std::to_string(i % 37) + " of the module, repeated often enough to pack well\n";
    return text;
}

std::string Packed(PackMethod method, const std::string& plain, int32_t level = -1) {
    Buffer packed;
    EXPECT_TRUE(PackBuffer(method, level, plain.data(), uint32_t(plain.size()), packed));
    return Contents(packed);
}

void PutSize(std::string& block, uint32_t size) {
    for (int i = 0; i < 4; ++i)
        block[kPackedSizeOffset + i] = char(uint8_t(size >> (8 * i)));
}

// Collects the log lines written while it lives.
class LogCapture {
public:
    LogCapture() { SetLogSinks(Collect, this, Collect, this); }
    ~LogCapture() { SetLogSinks(nullptr, nullptr, nullptr, nullptr); }
    bool Saw(const std::string& text) const { return mText.find(text) != std::string::npos; }
    const std::string& Text() const { return mText; }

private:
    static void Collect(const WideChar* text, void* context, uint8_t) {
        static_cast<LogCapture*>(context)->mText += NarrowText(text) + "\n";
    }
    std::string mText;
};

TEST(Unpack, PlainDataIsLeftAlone) {
    Buffer buffer;
    // 19 bytes that begin with the magic are too short to be a block.
    std::string short19(reinterpret_cast<const char*>(kPackedMagic), 8);
    short19.append(11, '\x01');
    SetContents(buffer, short19);
    EXPECT_TRUE(UnpackBuffer(buffer));
    EXPECT_EQ(Contents(buffer), short19);

    const std::string plain = Sample();
    SetContents(buffer, plain);
    EXPECT_TRUE(UnpackBuffer(buffer));
    EXPECT_EQ(Contents(buffer), plain);

    Buffer empty;
    EXPECT_TRUE(UnpackBuffer(empty));
    EXPECT_EQ(empty.GetSize(), 0u);
}

TEST(Unpack, HeaderOnlyOrZeroSizeBecomesEmpty) {
    std::string header = Packed(kPackZlib, "some bytes").substr(0, kPackedHeaderSize);
    Buffer buffer;
    SetContents(buffer, header);
    EXPECT_TRUE(UnpackBuffer(buffer));
    EXPECT_EQ(buffer.GetSize(), 0u);

    std::string zeroSize = Packed(kPackLzma, "some bytes");
    PutSize(zeroSize, 0);
    SetContents(buffer, zeroSize);
    EXPECT_TRUE(UnpackBuffer(buffer));
    EXPECT_EQ(buffer.GetSize(), 0u);
}

TEST(Unpack, RoundTripsBothMethods) {
    const std::string plain = Sample();
    for (PackMethod method : {kPackZlib, kPackLzma}) {
        for (int32_t level : {-1, 0, 9}) {
            const std::string packed = Packed(method, plain, level);
            ASSERT_GE(packed.size(), kPackedHeaderSize);
            EXPECT_EQ(packed[kPackedMethodOffset], method == kPackLzma ? 0 : 1);
            Buffer buffer;
            SetContents(buffer, packed);
            buffer.SetName(u"game.dll");
            buffer.SetCursorOffset(7);
            ASSERT_TRUE(UnpackBuffer(buffer)) << int(method) << " " << level;
            EXPECT_EQ(Contents(buffer), plain);
            EXPECT_TRUE(buffer.Owns());
            EXPECT_EQ(buffer.GetCursorOffset(), 0u);
            EXPECT_TRUE(buffer.GetName() == u"game.dll");
        }
    }
    // The LZMA stream carries its 5 properties in the header and no end marker.
    const std::string packed = Packed(kPackLzma, plain);
    EXPECT_EQ(uint8_t(packed[kPackedPropertiesOffset]), 0x5D);
}

TEST(Unpack, BlocksFromOtherEncoders) {
    const std::string plain = Fixture("plain.txt");
    ASSERT_FALSE(plain.empty());
    Buffer buffer;
    // LZMA with an end marker right after the last byte.
    SetContents(buffer, Fixture("lzma-end-marker.packed"));
    ASSERT_TRUE(UnpackBuffer(buffer));
    EXPECT_EQ(Contents(buffer), plain);

    // Method byte 1 means zlib even though bytes 8..12 look like LZMA properties.
    const std::string zlibBlock = Fixture("zlib.packed");
    ASSERT_EQ(zlibBlock[kPackedMethodOffset], 1);
    ASSERT_EQ(uint8_t(zlibBlock[kPackedPropertiesOffset]), 0x5D);
    SetContents(buffer, zlibBlock);
    ASSERT_TRUE(UnpackBuffer(buffer));
    EXPECT_EQ(Contents(buffer), plain);

    // An end marker before the claimed size ends the output there.
    std::string longer = Fixture("lzma-end-marker.packed");
    PutSize(longer, uint32_t(plain.size() + 100));
    SetContents(buffer, longer);
    ASSERT_TRUE(UnpackBuffer(buffer));
    EXPECT_EQ(Contents(buffer), plain);
}

// The package tool's stepwise unpacking gives every result and line of the loader's.
const struct {
    const char* name;
    bool (*unpack)(Buffer&);
} kUnpackers[] = {{"in one call", UnpackBuffer}, {"stepwise", UnpackBufferStepwise}};

TEST(Unpack, TooSmallSizeFailsZlibAndStopsLzma) {
    for (const auto& unpacker : kUnpackers) {
        SCOPED_TRACE(unpacker.name);
        const std::string plain = Sample();
        std::string zlibBlock = Packed(kPackZlib, plain);
        PutSize(zlibBlock, uint32_t(plain.size() - 1));
        Buffer buffer;
        SetContents(buffer, zlibBlock);
        {
            LogCapture log;
            EXPECT_FALSE(unpacker.unpack(buffer));
            EXPECT_TRUE(log.Saw("[FG] Decompress(Zip) Error Code : -5")) << log.Text();
        }
        EXPECT_EQ(Contents(buffer), zlibBlock);
        // Exactly the size: the stream's end is read after the output is full.
        PutSize(zlibBlock, uint32_t(plain.size()));
        SetContents(buffer, zlibBlock);
        ASSERT_TRUE(unpacker.unpack(buffer));
        EXPECT_EQ(Contents(buffer), plain);

        // The LZMA decoder stops when the output is full: the block's first bytes.
        std::string lzmaBlock = Packed(kPackLzma, plain);
        PutSize(lzmaBlock, 1000);
        SetContents(buffer, lzmaBlock);
        ASSERT_TRUE(unpacker.unpack(buffer));
        EXPECT_EQ(Contents(buffer), plain.substr(0, 1000));
    }
}

// Stepwise, memory follows what the stream holds: several steps of growth for a large block, and
// a block declaring more than its bytes could ever hold refused before anything is decoded.
TEST(Unpack, StepwiseGrowsWithTheStreamAndRefusesImpossibleSizes) {
    std::string large;
    while (large.size() < (5u << 20)) large += Sample();
    for (PackMethod method : {kPackZlib, kPackLzma}) {
        std::string block = Packed(method, large, 1);
        Buffer buffer;
        SetContents(buffer, block);
        ASSERT_TRUE(UnpackBufferStepwise(buffer)) << int(method);
        EXPECT_EQ(Contents(buffer), large) << int(method);

        const uint64_t bound = PackedSizeBound(reinterpret_cast<const uint8_t*>(block.data()), uint32_t(block.size()));
        EXPECT_EQ(bound, (block.size() - kPackedHeaderSize) * (method == kPackZlib ? 1032u : 7200u));
        std::string swollen = block.substr(0, kPackedHeaderSize + 100);
        PutSize(swollen, 100 * (method == kPackZlib ? 1032u : 7200u) + 1);
        SetContents(buffer, swollen);
        LogCapture log;
        EXPECT_FALSE(UnpackBufferStepwise(buffer));
        EXPECT_TRUE(log.Saw("[FG] Unpack Error : " + std::to_string(100 * (method == kPackZlib ? 1032u : 7200u) + 1) +
                            " bytes declared, at most "))
            << log.Text();
        EXPECT_EQ(Contents(buffer), swollen);
    }
}

TEST(Unpack, DamagedAndCutStreamsFailAndKeepTheBlock) {
    const std::string plain = Sample();
    struct Case {
        const char* what;
        std::string block;
        const char* line;
    };
    std::vector<Case> cases;

    std::string zlibBlock = Packed(kPackZlib, plain);
    std::string damaged = zlibBlock;
    for (size_t i = kPackedHeaderSize + 10; i < kPackedHeaderSize + 40; ++i)
        damaged[i] = char(damaged[i] ^ 0x5A);
    cases.push_back({"zlib damaged", damaged, "[FG] Decompress(Zip) Error Code : -3"});
    cases.push_back({"zlib cut", zlibBlock.substr(0, zlibBlock.size() / 2), "[FG] Decompress(Zip) Error Code : -3"});
    std::string badHeader = zlibBlock;
    badHeader[kPackedHeaderSize] = 0x00;
    cases.push_back({"zlib header", badHeader, "[FG] Decompress(Zip) Error Code : -3"});

    std::string lzmaBlock = Packed(kPackLzma, plain);
    std::string rangeStart = lzmaBlock;
    rangeStart[kPackedHeaderSize] = char(0xFF); // a range coder stream starts with 0
    cases.push_back({"lzma damaged", rangeStart, "[FG] Decompress(7z) Error Code : 1"});
    cases.push_back({"lzma cut", lzmaBlock.substr(0, lzmaBlock.size() / 2), "[FG] Decompress(7z) Error Code : 6"});
    cases.push_back({"lzma no stream", lzmaBlock.substr(0, kPackedHeaderSize + 1), "[FG] Decompress(7z) Error Code : 6"});
    std::string badProperties = lzmaBlock;
    badProperties[kPackedPropertiesOffset] = char(225); // lc/lp/pb beyond 9 * 5 * 5
    cases.push_back({"lzma properties", badProperties, "[FG] Decompress(7z) Error Code : 4"});
    std::string wideLiteral = Fixture("lzma-end-marker.packed");
    wideLiteral[kPackedPropertiesOffset] = char(8 + 9 * 1); // lc 8, lp 1
    cases.push_back({"lzma lc+lp", wideLiteral, "[FG] Decompress(7z) Error Code : 4"});

    for (const auto& unpacker : kUnpackers) {
        for (const Case& c : cases) {
            Buffer buffer;
            SetContents(buffer, c.block);
            LogCapture log;
            EXPECT_FALSE(unpacker.unpack(buffer)) << c.what << ", " << unpacker.name;
            // One byte of stream cannot hold the whole text: stepwise, that is found first.
            const bool bounded = unpacker.unpack == UnpackBufferStepwise && std::string(c.what) == "lzma no stream";
            EXPECT_TRUE(log.Saw(bounded ? "bytes declared, at most 7200 possible" : c.line))
                << c.what << ", " << unpacker.name << ": " << log.Text();
            EXPECT_EQ(Contents(buffer), c.block) << c.what << ", " << unpacker.name;
        }
    }
}

TEST(Unpack, SizesThatCannotBeAllocatedFailCleanly) {
    for (uint32_t size : {0xFFFFFFFFu, 0x80000000u}) {
        std::string block = Packed(kPackZlib, Sample());
        PutSize(block, size);
        Buffer buffer;
        SetContents(buffer, block);
        LogCapture log;
        EXPECT_FALSE(UnpackBuffer(buffer));
        EXPECT_TRUE(log.Saw("[FG] Unpack Error : can't allocate " + std::to_string(size) + " bytes")) << log.Text();
        EXPECT_EQ(Contents(buffer), block);
    }
}

TEST(Decompress, ReportsTheProducedLength) {
    const std::string plain = "hello hello hello hello";
    const std::string block = Packed(kPackLzma, plain);
    std::vector<uint8_t> output(100);
    size_t length = output.size();
    LogCapture log;
    ASSERT_FALSE(Decompress(output.data(), &length, reinterpret_cast<const uint8_t*>(block.data()) + kPackedHeaderSize,
                            block.size() - kPackedHeaderSize,
                            reinterpret_cast<const uint8_t*>(block.data()) + kPackedPropertiesOffset, true));
    // No end marker: with room left over the stream runs out.
    EXPECT_EQ(length, plain.size());
    EXPECT_TRUE(log.Saw("[FG] Decompress(7z) Error Code : 6"));

    const std::string zlibBlock = Packed(kPackZlib, plain);
    length = output.size();
    ASSERT_TRUE(Decompress(output.data(), &length,
                           reinterpret_cast<const uint8_t*>(zlibBlock.data()) + kPackedHeaderSize,
                           zlibBlock.size() - kPackedHeaderSize, nullptr, false));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(output.data()), length), plain);
}

TEST(Pack, RefusesBadLevels) {
    Buffer output;
    ASSERT_TRUE(output.Set("keep", 4, true));
    EXPECT_FALSE(PackBuffer(kPackZlib, 10, "x", 1, output));
    EXPECT_FALSE(PackBuffer(kPackLzma, -2, "x", 1, output));
    EXPECT_EQ(Contents(output), "keep");
    // Empty input packs to a block that unpacks to nothing.
    ASSERT_TRUE(PackBuffer(kPackLzma, 1, nullptr, 0, output));
    EXPECT_TRUE(UnpackBuffer(output));
    EXPECT_EQ(output.GetSize(), 0u);
}

} // namespace
