// Large texts, deep patterns, endless recursion and arbitrary pattern texts: defined outcomes,
// never an exhausted native stack.
#include <gtest/gtest.h>

#include <string>

#include "RegexTestSupport.h"

using RegexTest::Find;

namespace {

const int32_t kMiB = 1 << 20;

std::u16string Repeat(const std::u16string& unit, int32_t count) {
    std::u16string text;
    text.reserve(unit.size() * size_t(count));
    for (int32_t i = 0; i < count; ++i) text += unit;
    return text;
}

std::u16string Nested(int32_t depth, const std::u16string& open, const std::u16string& inner) {
    return Repeat(open, depth) + inner + Repeat(u")", depth);
}

} // namespace

TEST(RegexLimits, MebibyteTextsUseTheEngineStacks) {
    // The server-data list pattern over a list that runs for a whole MiB before its ']'.
    std::u16string list = u"\"12\":[" + Repeat(u"a", kMiB) + u"]";
    EXPECT_EQ(Find(u"\"12\":\\[.+?\\]", list), "0," + std::to_string(kMiB + 7));
    EXPECT_EQ(Find(u"\"12\":\\[.+\\]", list), "0," + std::to_string(kMiB + 7));

    std::u16string ab = Repeat(u"ab", kMiB / 2);
    std::string whole = "0," + std::to_string(kMiB);
    EXPECT_EQ(Find(u"(?:a|b)*", ab), whole);
    EXPECT_EQ(Find(u"(a|b)*", ab), whole + " " + std::to_string(kMiB - 1) + "," + std::to_string(kMiB));
    EXPECT_EQ(Find(u"(?:a|b)*?$", ab), whole);
    EXPECT_EQ(Find(u"(?:ab)+c|(?:ab)+", ab), whole); // a full run given back unit by unit, then the next branch
    EXPECT_EQ(Find(u"(?>(?:a|b)+)", ab), whole);
    EXPECT_EQ(Find(u"(?:a|b)++", ab), whole);
    EXPECT_EQ(Find(u"(?:a|b)*", ab, FlagRightToLeft), whole);
    EXPECT_EQ(Find(u"^(?:[ab](?=[ab]|$))*$", ab), whole);
    EXPECT_EQ(Find(u"((?:ab)*)\\1", ab), whole + " 0," + std::to_string(kMiB / 2));
}

TEST(RegexLimits, NestingBeyondTheLimitNeverMatches) {
    const int32_t limit = RegexPattern::kMaxNesting;
    for (const char16_t* open : {u"(", u"(?:", u"(?=", u"(?>"}) {
        RegexPattern deepest(Nested(limit, open, u"a").c_str());
        EXPECT_FALSE(deepest.IsTooDeep());
        EXPECT_TRUE(deepest.Match(u"xa", 2).IsMatched());

        RegexPattern tooDeep(Nested(limit + 1, open, u"a").c_str());
        EXPECT_TRUE(tooDeep.IsCompiled());
        EXPECT_TRUE(tooDeep.IsTooDeep());
        EXPECT_FALSE(tooDeep.Match(u"xa", 2).IsMatched());
        EXPECT_FALSE(tooDeep.Match(u"", 0).IsMatched());
    }
    // Far deeper than the limit: compiling stops early and cheaply.
    RegexPattern huge(Nested(200000, u"(", u"a").c_str());
    EXPECT_TRUE(huge.IsTooDeep());
    EXPECT_FALSE(huge.Match(u"a", 1).IsMatched());
    // A deep pattern with a recursion still ends.
    RegexPattern deepRecursion((Nested(limit - 1, u"(", u"a(?1)?b")).c_str());
    EXPECT_TRUE(deepRecursion.Match(u"aaabbb", 6).IsMatched());
}

TEST(RegexLimits, RecursionFailsAtItsDepthLimit) {
    const int32_t limit = RegexPattern::kMaxRecursion;
    std::u16string pattern = u"^(a(?1)?b)$";
    // Within the limit: a nesting of limit levels matches.
    std::u16string inside = Repeat(u"a", limit) + Repeat(u"b", limit);
    EXPECT_EQ(Find(pattern, inside), "0," + std::to_string(2 * limit) + " 0," + std::to_string(2 * limit));
    // Beyond it the recursion fails at that point, so the anchored whole does not match.
    std::u16string beyond = Repeat(u"a", limit + 5) + Repeat(u"b", limit + 5);
    EXPECT_EQ(Find(pattern, beyond), "");
    // Recursion that never consumes ends at the limit instead of running forever.
    EXPECT_EQ(Find(u"(?R)?a", u"a"), "0,1");
    EXPECT_EQ(Find(u"(a|(?1)b)", u"ab"), "0,1 0,1");
    // Searched right to left, recursion in two branches is met before anything is consumed: the
    // tree doubles at every level, and the step bound is what ends it.
    RegexPattern branching(u"a(?R)|b(?R)|$", FlagRightToLeft);
    const std::u16string text = u"xyz";
    RegexSearchState state = branching.BeginSearch(text.c_str(), int32_t(text.size()));
    state.SetStepLimit(100000);
    while (branching.FindNext(state).IsMatched()) {
    }
    EXPECT_TRUE(state.IsStepLimitReached());
}

TEST(RegexLimits, ArbitraryPatternTextsCompileAndSearch) {
    // Every text is a pattern: random mixes of the syntax characters must compile and search
    // without faults (the sanitizer builds watch the memory side).
    static const char16_t kUnits[] = u"()[]{}?*+|^$.\\:-<>'=!#,0123aAbBdDkgQELURPxu ";
    const int32_t units = int32_t(sizeof kUnits / sizeof kUnits[0]) - 1;
    uint32_t seed = 12345;
    auto next = [&seed]() { return (seed = seed * 1103515245u + 12345u) >> 16; };
    std::u16string text = u"aAb(0)[1]{2}\\x<k>'-' \n\r\tQ:E=!";
    int compiled = 0;
    for (int round = 0; round < 20000; ++round) {
        std::u16string pattern;
        int32_t length = int32_t(next() % 14);
        for (int32_t i = 0; i < length; ++i) pattern += kUnits[next() % uint32_t(units)];
        for (int32_t flags : {int32_t(FlagNone), FlagIgnoreCase | FlagExtended | FlagMultiLine, FlagRightToLeft | FlagDotAll}) {
            RegexPattern regex;
            compiled += regex.Compile(pattern.c_str(), flags, int32_t(pattern.size()));
            RegexSearchState state = regex.BeginSearch(text.data(), int32_t(text.size()), -1);
            for (int guard = 0; guard < 64 && regex.FindNext(state).IsMatched(); ++guard) {
            }
        }
    }
    EXPECT_EQ(compiled, 60000);
}

TEST(RegexLimits, EngineBufferGrowth) {
    CBufferT<int32_t> buffer;
    EXPECT_EQ(buffer.GetCapacity(), 0);
    EXPECT_TRUE(buffer.Push(1));
    EXPECT_EQ(buffer.GetCapacity(), 8);
    for (int32_t i = 0; i < 8; ++i) buffer.Push(i);
    EXPECT_EQ(buffer.GetCapacity(), 16); // doubling
    EXPECT_TRUE(buffer.Reserve(100));
    EXPECT_EQ(buffer.GetCapacity(), 104); // the next multiple of 8 above what is needed
    EXPECT_EQ(buffer.GetCount(), 9);
    buffer.SetLimit(110);
    EXPECT_FALSE(buffer.Reserve(111));
    EXPECT_EQ(buffer.GetCount(), 9);
    EXPECT_EQ(buffer.Pop(), 7);
    buffer.Clear();
    EXPECT_EQ(buffer.Pop(), 0); // popping an empty buffer gives the default value
    CBufferRefT<WideChar> none(_null, 5);
    EXPECT_EQ(none.GetCount(), 0);
}

TEST(RegexLimits, StackExhaustionEndsTheSearchWithoutAMatch) {
    std::u16string text = Repeat(u"ab", 5000);
    for (const char16_t* pattern : {u"(?:a|b)*c?", u"(a|b)*", u"(?:(a)|b)+?$", u"(?>(?:a|b)*)x|a"}) {
        RegexPattern regex(pattern);
        RegexSearchState state = regex.BeginSearch(text.data(), int32_t(text.size()));
        state.SetStackLimit(1000);
        EXPECT_FALSE(regex.FindNext(state).IsMatched());
        EXPECT_FALSE(regex.FindNext(state).IsMatched()); // the search has ended
        RegexSearchState roomy = regex.BeginSearch(text.data(), int32_t(text.size()));
        EXPECT_TRUE(regex.FindNext(roomy).IsMatched());
    }
}
