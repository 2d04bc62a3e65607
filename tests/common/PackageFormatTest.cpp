// The package format: headers cut short or odd, and the module file names that stay inside.
#include <gtest/gtest.h>

#include <cstring>

#include "Source/Common/PackageFormat.h"
#include "support/ScratchFolder.h"

namespace {

TEST(PackageFormat, ReadingShortOrOddHeaders) {
    PackageHeader header;
    EXPECT_FALSE(ReadPackageHeader(reinterpret_cast<const uint8_t*>("\x0a\x0f\x0a"), 3, header));
    // A header cut inside the name keeps only whole fields.
    uint8_t bytes[1132];
    memset(bytes, 'x', sizeof bytes);
    ASSERT_TRUE(ReadPackageHeader(bytes, 8 + 63, header));
    EXPECT_EQ(header.magic, 0x78787878u);
    EXPECT_EQ(header.name[0], 0) << "the name needs 64 bytes";
    // Every text's last unit is forced to 0 (not the module names, which the loader keeps whole).
    memset(bytes, 0, 8);
    bytes[4] = 2;
    ASSERT_TRUE(ReadPackageHeader(bytes, sizeof bytes, header));
    EXPECT_EQ(header.name[31], 0);
    EXPECT_EQ(header.name[30], 0x7878);
    EXPECT_EQ(header.cacheName[31], 0);
    EXPECT_EQ(header.blockA.name[31], 0);
    EXPECT_EQ(header.blockB.name[31], 0);
    EXPECT_EQ(header.tailName[31], 0);
    EXPECT_EQ(header.modules[7].fileName[31], 0x7878);
}

TEST(PackageFormat, SafeFileNames) {
    for (const char16_t* safe : {u"game.so", u"data/one.dat", u"a\\b.dat", u"..a", u".hidden", u"./game.so",
                                 u"@../anything", u"", u"x/y/z", u"console.dll", u"com0", u"lpt10.txt", u"nul_x"})
        EXPECT_TRUE(IsSafeModuleFileName(safe)) << NarrowText(safe);
    // Outside the folder, a folder, a drive, a stream, a device, or a name Windows would shorten.
    for (const char16_t* unsafe :
         {u"/etc/passwd", u"\\share", u"..", u"../game.so", u"data/../../x", u"x/..", u"..\\x", u"a\\..\\..\\b",
          u".", u"data/", u"data\\", u"x/.", u"C:\\x.dll", u"c:x", u"game.dll:hidden", u"CON", u"nul.txt",
          u"data/Com7.log", u"LPT1", u"aux .txt", u"game.", u"game ", u"...", u"a..", u"dir./x"})
        EXPECT_FALSE(IsSafeModuleFileName(unsafe)) << NarrowText(unsafe);
    for (const char16_t* unsafe : {u"", u".", u"..", u"studio/game", u"a\\b", u"x:", u"PRN", u"game."})
        EXPECT_FALSE(IsSafeCacheName(unsafe)) << NarrowText(unsafe);
    EXPECT_TRUE(IsSafeCacheName(u"My Game 2"));
}

} // namespace
