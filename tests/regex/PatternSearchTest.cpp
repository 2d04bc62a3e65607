// PatternSearch: the spans the server-data reader gets.
#include <gtest/gtest.h>

#include "regex/PatternSearch.h"

TEST(PatternSearch, FirstMatchAndFindAll) {
    PatternSearch search;
    int32_t starts[4] = {-7, -7, -7, -7}, ends[4] = {-7, -7, -7, -7};
    EXPECT_EQ(search.Search(String(u"abc"), starts, ends, 4, true), 0); // nothing compiled
    EXPECT_TRUE(search.Compile(String(u"\\d+")));
    String text(u"a1 22 333");

    EXPECT_EQ(search.Search(text, starts, ends, 4, false), 1); // find all false: the first only
    EXPECT_EQ(starts[0], 1);
    EXPECT_EQ(ends[0], 2);
    EXPECT_EQ(starts[1], -7);

    EXPECT_EQ(search.Search(text, starts, ends, 2, true), 2); // capacity 2: two of three
    EXPECT_EQ(starts[1], 3);
    EXPECT_EQ(ends[1], 5);
    EXPECT_EQ(starts[2], -7);

    EXPECT_EQ(search.Search(text, starts, ends, 4, true), 3);
    EXPECT_EQ(starts[2], 6);
    EXPECT_EQ(ends[2], 9);
    EXPECT_EQ(starts[3], -7);

    // A counted text need not be terminated.
    EXPECT_EQ(search.Search(text.Data(), 4, starts, ends, 4, true), 2);
    EXPECT_EQ(ends[1], 4);
}

TEST(PatternSearch, NoMatchLeavesArraysUntouched) {
    PatternSearch search;
    search.Compile(String(u"\"default\":\\d+"));
    int32_t starts[2] = {-7, -7}, ends[2] = {-7, -7};
    EXPECT_EQ(search.Search(String(u"{\"other\":3}"), starts, ends, 2, true), 0);
    EXPECT_EQ(starts[0], -7);
    EXPECT_EQ(ends[0], -7);
    // No room, or no arrays: nothing is searched or written.
    EXPECT_EQ(search.Search(String(u"\"default\":3"), starts, ends, 0, true), 0);
    EXPECT_EQ(search.Search(String(u"\"default\":3"), _null, ends, 2, true), 0);
    EXPECT_EQ(starts[0], -7);
    EXPECT_EQ(ends[0], -7);
}

TEST(PatternSearch, OptionBitZeroIgnoresCase) {
    int32_t start = -1, end = -1;
    PatternSearch exact;
    exact.Compile(String(u"default"));
    EXPECT_EQ(exact.Search(String(u"DEFAULT"), &start, &end, 1, false), 0);
    PatternSearch folded(PatternSearch::OptionIgnoreCase);
    folded.Compile(String(u"default"));
    EXPECT_EQ(folded.Search(String(u"x DEFAULT"), &start, &end, 1, false), 1);
    EXPECT_EQ(start, 2);
    EXPECT_EQ(end, 9);
    // The option word is read at compile time.
    folded.SetOptions(0);
    EXPECT_EQ(folded.Search(String(u"DEFAULT"), &start, &end, 1, false), 1);
    folded.Compile(String(u"default"));
    EXPECT_EQ(folded.Search(String(u"DEFAULT"), &start, &end, 1, false), 0);
}

TEST(PatternSearch, ServerDataKeyList) {
    String data(u"{\"3\":[\"a\",\"b\",1,2,\"x\",\"U\",8000,\"H\"],\"default\":3}\n");
    PatternSearch search;
    int32_t start = -1, end = -1;
    search.Compile(String(u"\"default\":\\d+"));
    ASSERT_EQ(search.Search(data, &start, &end, 1, false), 1);
    EXPECT_EQ(data.Mid(start + 10, end - start - 10), String(u"3"));
    String pattern(u"\"3\":\\[");
    pattern.Append(u".+?\\]");
    search.Compile(pattern);
    ASSERT_EQ(search.Search(data, &start, &end, 1, false), 1);
    EXPECT_EQ(data.Mid(start, end - start), String(u"\"3\":[\"a\",\"b\",1,2,\"x\",\"U\",8000,\"H\"]"));
}
