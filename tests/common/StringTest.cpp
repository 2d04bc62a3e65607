// The engine string: storage rules, editing, searching, comparing and the case-folded hash.
#include <gtest/gtest.h>

#include "Source/Common/String.h"

TEST(String, EmptyStringsShareTheLiteralAndOwnNothing) {
    String a, b(u"");
    EXPECT_EQ(a.Data(), b.Data());
    EXPECT_EQ(a.GetCapacity(), 0u);
    String c(u"x");
    c.Assign(u"");
    EXPECT_EQ(c.Data(), a.Data());
    EXPECT_EQ(c.GetCapacity(), 0u);
}

TEST(String, AllocatesExactlyAndCutsAtAnEmbeddedNul) {
    String s(u"hello");
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(s.GetCapacity(), 6u);
    const WideChar embedded[] = {u'a', u'b', 0, u'c', u'd', 0};
    s.Assign(embedded, 5);
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_TRUE(s == u"ab");
    s.Append(u"xyz");
    EXPECT_EQ(s.GetCapacity(), 6u);
    EXPECT_TRUE(s == u"abxyz");
}

TEST(String, HashNoCaseFoldsOnlyAscii) {
    EXPECT_EQ(HashNoCase(u"abc"), 0x05DC025Au);
    EXPECT_EQ(HashNoCase(u"ABC"), 0x05DC025Au);
    EXPECT_EQ(HashNoCase(u""), 0x7FED7FEDu);
    EXPECT_NE(HashNoCase(u"\u00e9"), HashNoCase(u"\u00c9"));
}

TEST(String, ReplaceAllDoesNotSearchTheReplacementAgain) {
    String s(u"aXa");
    s.ReplaceAll(u"a", u"aa");
    EXPECT_TRUE(s == u"aaXaa");
}
