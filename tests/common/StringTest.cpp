// The engine string: storage rules, editing, searching, comparing and the case-folded hash.
#include <gtest/gtest.h>

#include <string>
#include "Source/Common/String.h"

namespace {
std::u16string Text(const String& s) { return std::u16string(s.Data(), size_t(s.GetLength())); }
} // namespace

TEST(String, EmptyStringsShareTheLiteralAndOwnNothing) {
    String a, b(u"");
    EXPECT_EQ(a.Data(), b.Data());
    EXPECT_EQ(a.GetCapacity(), 0u);
    String c(u"x");
    c.Assign(u"");
    EXPECT_EQ(c.Data(), a.Data());
    EXPECT_EQ(c.GetCapacity(), 0u);
    String d(_null);
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_EQ(String::Length(_null), 0);
}

TEST(String, AllocatesExactlyAndCutsAtAnEmbeddedNul) {
    String s(u"hello");
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(s.GetCapacity(), 6u);
    const WideChar embedded[] = {u'a', u'b', 0, u'c', u'd', 0};
    s.Assign(embedded, 5); // reuses the buffer
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_EQ(s.GetCapacity(), 6u);
    EXPECT_EQ(Text(s), u"ab");
    s.Append(u"xyz");
    EXPECT_EQ(s.GetCapacity(), 6u);
    s.Append(u"!");
    EXPECT_EQ(s.GetCapacity(), 7u);
    EXPECT_EQ(Text(s), u"abxyz!");
    s.Assign(u"abcdefgh", 3);
    EXPECT_EQ(Text(s), u"abc");
}

TEST(String, BorrowedTextIsNeverWrittenOrFreed) {
    const WideChar owned[] = u"a-b-c";
    String s;
    s.Borrow(owned);
    EXPECT_EQ(s.Data(), owned);
    EXPECT_EQ(s.GetCapacity(), 0u);
    s.ReplaceChar(u'-', u'+');
    EXPECT_EQ(Text(s), u"a+b+c");
    EXPECT_EQ(std::u16string(owned), u"a-b-c");
    s.Borrow(owned);
    s.Remove(0, 2);
    EXPECT_EQ(Text(s), u"b-c");
    EXPECT_EQ(std::u16string(owned), u"a-b-c");
}

TEST(String, InsertAndRemoveClipToTheText) {
    String s(u"ace");
    s.InsertChar(1, u'b');
    s.Insert(3, u"d");
    EXPECT_EQ(Text(s), u"abcde");
    s.Insert(9, u"x"); // beyond the end: nothing
    s.Insert(-1, u"x");
    EXPECT_EQ(Text(s), u"abcde");
    s.Insert(5, u"fgh", 2);
    EXPECT_EQ(Text(s), u"abcdefg");
    s.Remove(5, 100);
    EXPECT_EQ(Text(s), u"abcde");
    s.Remove(1, 2);
    EXPECT_EQ(Text(s), u"ade");
    s.Remove(3, 1);
    EXPECT_EQ(Text(s), u"ade");
    // Text taken from the string itself survives the reallocation.
    s.Insert(1, s.Data());
    EXPECT_EQ(Text(s), u"aadede");
    s.Remove(0, 6);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.GetCapacity(), 0u);
}

TEST(String, TrimsFoldOnlyAsciiUnlessExact) {
    String s(u"xXabcXx");
    s.TrimLeftChar(u'x');
    EXPECT_EQ(Text(s), u"XabcXx");
    s.TrimRightChar(u'x', false);
    EXPECT_EQ(Text(s), u"Xabc");
    s = u" \t value \t ";
    s.TrimLeft(u" \t");
    s.TrimRight(u" \t");
    EXPECT_EQ(Text(s), u"value");
    s = u"\u00e9a\u00c9";
    s.TrimLeftChar(u'\u00c9', false); // é is not folded to É
    EXPECT_EQ(Text(s), u"\u00e9a\u00c9");
    s = u"aaa";
    s.TrimLeftChar(u'a');
    EXPECT_TRUE(s.IsEmpty());
}

TEST(String, ReplaceAllDoesNotSearchTheReplacementAgain) {
    String s(u"aXa");
    s.ReplaceAll(u"a", u"aa");
    EXPECT_EQ(Text(s), u"aaXaa");
    s = u"Path\\To\\FILE";
    s.ReplaceAll(u"\\", u"/");
    EXPECT_EQ(Text(s), u"Path/To/FILE");
    s = u"abAB";
    s.ReplaceAll(u"ab", u"", false);
    EXPECT_TRUE(s.IsEmpty());
    s = u"abc";
    s.ReplaceAll(u"", u"x");
    EXPECT_EQ(Text(s), u"abc");
    s = u"xyx";
    s.ReplaceAll(s.Data() + 2, u"zz"); // the searched text is part of the string
    EXPECT_EQ(Text(s), u"zzyzz");
    s.ReplaceChar(u'Z', u'q', false);
    EXPECT_EQ(Text(s), u"qqyqq");
}

TEST(String, FindsAndComparesWithAsciiFolding) {
    String s(u"Hello World");
    EXPECT_EQ(s.Find(u"World"), 6);
    EXPECT_EQ(s.Find(u"world"), -1);
    EXPECT_EQ(s.Find(u"WORLD", false), 6);
    EXPECT_EQ(s.Find(u""), -1);
    EXPECT_EQ(s.Find(u"World!"), -1);
    EXPECT_EQ(s.FindChar(u'o'), 4);
    EXPECT_EQ(s.FindChar(0), -1);
    EXPECT_EQ(s.FindLastChar(u'o'), 7);
    EXPECT_EQ(s.FindLastChar(u'L', false), 9);
    EXPECT_EQ(s.FindChar(u'z'), -1);

    String abc(u"abc");
    EXPECT_EQ(abc.Compare(u"ABC", false), 0);
    EXPECT_NE(abc.Compare(u"ABC", true), 0);
    EXPECT_EQ(abc.Compare(u"abd"), -1);
    EXPECT_EQ(abc.Compare(u"ab"), 1);
    EXPECT_EQ(abc.Compare(u"abc\uffff"), -1); // units compare unsigned
    EXPECT_EQ(String(u"\uffff").Compare(u"a"), 1);
    EXPECT_EQ(String(u"\u00e9").Compare(u"\u00c9", false), 0xe9 - 0xc9);
    EXPECT_EQ(CompareNoCase(u"Key", u"kEY"), 0);
    EXPECT_LT(CompareNoCase(u"a", u"B"), 0);
    EXPECT_TRUE(abc == u"abc");
    EXPECT_TRUE(abc != String(u"ABC"));

    EXPECT_TRUE(s.StartsWith(u"Hello"));
    EXPECT_TRUE(s.StartsWith(u"hello", false));
    EXPECT_FALSE(s.StartsWith(u"hello"));
    EXPECT_FALSE(s.StartsWith(u""));
    EXPECT_TRUE(s.StartsWith(u"Hello World"));
    EXPECT_FALSE(s.StartsWith(u"Hello World!"));
}

TEST(String, HashNoCaseFoldsOnlyAscii) {
    EXPECT_EQ(HashNoCase(u"abc"), 0x05DC025Au);
    EXPECT_EQ(HashNoCase(u"ABC"), 0x05DC025Au);
    EXPECT_EQ(HashNoCase(u"aBc"), 0x05DC025Au);
    EXPECT_EQ(HashNoCase(u""), 0x7FED7FEDu);
    EXPECT_NE(HashNoCase(u"\u00e9"), HashNoCase(u"\u00c9"));
    EXPECT_EQ(FoldCase(u'z'), u'Z');
    EXPECT_EQ(FoldCase(u'{'), u'{');
    EXPECT_EQ(FoldCase(u'\u00e9'), u'\u00e9');
}
