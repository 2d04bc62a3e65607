// The header record is packed and may lie at any address (the loader keeps it inside its own
// object, the game module receives a pointer to it): reading and writing it must not assume
// the natural alignment of its numbers (the sanitizer build checks every access).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/PackageBuilder.h"
#include "Source/Common/PackageFormat.h"

namespace {

TEST(PackedHeaderPlacement, ReadAndWrittenAtEveryOffset) {
    PackageBuilder builder;
    builder.SetCacheName(u"Game");
    const char content[] = "module content";
    ASSERT_TRUE(builder.AddPlainModule(u"game.vob", content, sizeof(content)));
    ASSERT_TRUE(builder.SetDataBlock(0, u"A", content, 5));
    ASSERT_TRUE(builder.SetDataBlock(1, u"B", content, 7));
    Buffer package;
    ASSERT_TRUE(builder.Finish(package));
    ASSERT_GE(package.GetSize(), VEXAL_HEADER_SIZE);

    std::vector<uint8_t> storage(sizeof(PackageHeader) + 8);
    for (size_t offset = 0; offset < 8; ++offset) {
        SCOPED_TRACE(offset);
        PackageHeader* header = reinterpret_cast<PackageHeader*>(storage.data() + offset);
        ASSERT_TRUE(ReadPackageHeader(package.GetData(), VEXAL_HEADER_SIZE, *header));
        uint64_t blockBSize;
        std::memcpy(&blockBSize, &header->blockB.size, sizeof(blockBSize));
        EXPECT_EQ(blockBSize, 7u);
        EXPECT_EQ(ExpectedPackageSize(*header), package.GetSize());

        uint8_t written[VEXAL_HEADER_SIZE];
        ASSERT_EQ(WritePackageHeader(*header, written), VEXAL_HEADER_SIZE);
        EXPECT_EQ(std::memcmp(written, package.GetData(), VEXAL_HEADER_SIZE), 0);
    }
}

} // namespace
