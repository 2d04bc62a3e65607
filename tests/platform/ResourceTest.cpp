// Embedded resources: lookup by name without regard to case, across the program's tables.
#include <gtest/gtest.h>

#include <string>

#include "Source/Common/Buffer.h"
#include "Source/Platform/Resource.h"
#include "support/ScratchFolder.h"

namespace {

std::string Contents(const Buffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize());
}

std::string DataFile(const std::string& name) {
    return ReadNativeFile(std::string(VEXAL_TEST_DATA_DIR) + "/platform/" + name);
}

TEST(Resource, FoundWithoutRegardToCaseAndCopied) {
    Buffer buffer;
    ASSERT_TRUE(LoadEmbeddedResource(u"hello.TXT", buffer));
    EXPECT_EQ(Contents(buffer), DataFile("embedded/Hello.txt"));
    EXPECT_TRUE(buffer.Owns());

    // The buffer holds a copy: changing it leaves the resource as it was.
    buffer.GetData()[0] = 'J';
    Buffer again;
    ASSERT_TRUE(LoadEmbeddedResource(u"HELLO.txt", again));
    EXPECT_EQ(Contents(again), DataFile("embedded/Hello.txt"));

    ASSERT_TRUE(LoadEmbeddedResource(u"binary.bin", buffer));
    EXPECT_EQ(Contents(buffer), DataFile("embedded/Binary.BIN"));
    ASSERT_TRUE(LoadEmbeddedResource(u"SUB/deep.txt", buffer));
    EXPECT_EQ(Contents(buffer), "deep\n");
}

TEST(Resource, EveryTableOfTheProgramIsSearched) {
    Buffer buffer;
    ASSERT_TRUE(LoadEmbeddedResource(u"more.txt", buffer));
    EXPECT_EQ(Contents(buffer), "second table\n");
}

TEST(Resource, TheCoreLibrarysAssetsComeWithIt) {
    // The core library's table is kept by every program that links the library.
    const std::string movie = ReadNativeFile(std::string(VEXAL_TEST_DATA_DIR) + "/../../screens/assets/loading.swf");
    if (movie.empty())
        GTEST_SKIP() << "no loading movie among the product's assets";
    Buffer buffer;
    ASSERT_TRUE(LoadEmbeddedResource(u"Loading.Swf", buffer));
    EXPECT_EQ(Contents(buffer), movie);
    EXPECT_TRUE(LoadEmbeddedResource(u"BG.PNG", buffer));
}

TEST(Resource, FailuresLeaveTheBufferAlone) {
    Buffer buffer;
    ASSERT_TRUE(buffer.Set("keep", 4, true));
    buffer.SetName(u"name");
    EXPECT_FALSE(LoadEmbeddedResource(u"", buffer));
    EXPECT_FALSE(LoadEmbeddedResource(nullptr, buffer));
    EXPECT_FALSE(LoadEmbeddedResource(u"absent.png", buffer));
    EXPECT_FALSE(LoadEmbeddedResource(u"Empty.dat", buffer));
    // Neither a prefix nor a longer name matches.
    EXPECT_FALSE(LoadEmbeddedResource(u"Hello", buffer));
    EXPECT_FALSE(LoadEmbeddedResource(u"Hello.txt.bak", buffer));
    // Only ASCII letters fold: these are not the same name.
    EXPECT_FALSE(LoadEmbeddedResource(u"H\u0130LLO.txt", buffer));
    EXPECT_EQ(Contents(buffer), "keep");
    EXPECT_TRUE(buffer.GetName() == u"name");

    ASSERT_TRUE(LoadEmbeddedResource(u"Hello.txt", buffer));
    EXPECT_TRUE(buffer.GetName() == u"name");
}

} // namespace
