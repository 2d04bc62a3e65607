// Path helpers and list splitting.
#include <gtest/gtest.h>

#include <string>
#include "CaptureLog.h"
#include "Source/Common/StringFormatter.h"

namespace {

std::u16string Text(const String& s) { return s.Data(); }

std::u16string Items(const WideChar* text, const WideChar* delimiters, const WideChar* trimSet) {
    Array<String> items;
    Split(text, items, delimiters, trimSet);
    std::u16string joined;
    for (const String& item : items) {
        joined += u'[';
        joined += Text(item);
        joined += u']';
    }
    return joined;
}

} // namespace

TEST(Paths, ExtensionsAndFolders) {
    EXPECT_EQ(Text(PathWithoutExtension(u"C:\\Games\\Player.exe")), u"C:\\Games\\Player");
    EXPECT_EQ(Text(PathWithoutExtension(u"noext")), u"noext");
    EXPECT_EQ(Text(PathExtension(u"a/b.c/d.tar.gz")), u"gz");
    EXPECT_EQ(Text(PathExtension(u"noext")), u"");
    EXPECT_EQ(Text(PathFolder(u"C:\\Games\\Player.exe")), u"C:\\Games");
    EXPECT_EQ(Text(PathFolder(u"/usr/lib/x.so")), u"/usr/lib");
    EXPECT_EQ(Text(PathFolder(u"C:file")), u"C");
    EXPECT_EQ(Text(PathFolder(u"file")), u"");
    // A backslash anywhere wins over a later slash.
    EXPECT_EQ(Text(PathFolder(u"a\\b/c/d")), u"a");
}

TEST(Paths, FileNames) {
    EXPECT_EQ(Text(PathFileName(u"C:\\Games\\Player.exe", false, false)), u"Player");
    EXPECT_EQ(Text(PathFileName(u"C:\\Games\\Player.exe", false, true)), u"Player.exe");
    EXPECT_EQ(Text(PathFileName(u"C:\\Games\\Player.exe", true, false)), u"C:\\Games\\Player");
    EXPECT_EQ(Text(PathFileName(u"C:\\x.y\\file", false, false)), u"file");
    EXPECT_EQ(Text(PathFileName(u"/opt/game/vexal-host", false, false)), u"vexal-host");
    EXPECT_EQ(Text(PathFileName(u"", false, false)), u"");
    EXPECT_EQ(Text(PathFileName(_null, false, false)), u"");
}

TEST(Split, EmptyItemsAndTrimming) {
    EXPECT_EQ(Items(u"a,,b", u",", u""), u"[a][][b]");
    EXPECT_EQ(Items(u"a,", u",", u""), u"[a][]");
    EXPECT_EQ(Items(u"", u",", u""), u"[]");
    EXPECT_EQ(Items(u"a, ", u",", u" "), u"[a]");
    EXPECT_EQ(Items(u" a ; b ;  ;c", u";,", u" "), u"[a][b][][c]");
    EXPECT_EQ(Items(u",a", u",", u""), u"[][a]");
    EXPECT_EQ(Items(u"x|y,z", u"|,", _null), u"[x][y][z]");
    EXPECT_EQ(Items(u"A,a", u"a", u""), u"[A,][]");
}

TEST(Split, EmptyDelimitersAreReported) {
    CaptureLog log;
    Array<String> items;
    Split(u"a,b", items, u"", u"");
    EXPECT_EQ(items.GetCount(), 0);
    EXPECT_TRUE(log.ErrorContains(u"Assertion Failed : division != L\"\"\r\nSource/Common/StringFormatter:"));
}
