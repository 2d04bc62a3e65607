// The pattern language, case by case: what each construct matches and what it reports.
#include <gtest/gtest.h>

#include <cwctype>
#include <thread>
#include <vector>

#include "RegexTestSupport.h"

using RegexTest::Find;
using RegexTest::FindAll;

TEST(RegexLanguage, ServerDataPatterns) {
    std::u16string text = u"{\"list\":[1,2],\"default\":42,\"other\":[3]}";
    EXPECT_EQ(Find(u"\"default\":\\d+", text), "14,26");  // greedy digits stop at the comma
    EXPECT_EQ(Find(u"\"list\":\\[.+?\\]", text), "1,13"); // reluctant: the first ']' ends it
    // '.' does not cross a newline without FlagDotAll.
    EXPECT_EQ(Find(u"\"list\":\\[.+?\\]", u"\"list\":[1,\n2]"), "");
    EXPECT_EQ(Find(u"\"list\":\\[.+?\\]", u"\"list\":[1,\n2]", FlagDotAll), "0,13");
    // A closing bracket inside a quoted item cuts the list there.
    EXPECT_EQ(Find(u"\"12\":\\[.+?\\]", u"\"12\":[\"a]b\",\"c\"]"), "0,9");
}

// Letters and case come from the platform's C library: glibc's C locale knows the ASCII letters
// only, the Windows C library tens of thousands. Each platform is held to its own library.
TEST(RegexLanguage, LettersAndCaseFollowThePlatformsCLibrary) {
    int letters = 0;
    for (char32_t unit = 0x41; unit < 0xD800; unit += 5) {
        const std::u16string text(1, char16_t(unit));
        const bool letter = std::iswalpha(wint_t(unit)) != 0;
        letters += letter ? 1 : 0;
        ASSERT_EQ(Find(u"[[:alpha:]]", text) != "", letter) << "U+" << std::hex << uint32_t(unit);
        const char16_t lower = char16_t(std::towlower(wint_t(unit)));
        if (lower != unit) {
            ASSERT_EQ(Find(std::u16string(1, lower), text, FlagIgnoreCase), "0,1") << "U+" << std::hex << uint32_t(unit);
        }
    }
    EXPECT_GT(letters, 0);
}

TEST(RegexLanguage, SearchStepsOverEmptyMatches) {
    EXPECT_EQ(FindAll(u"a*", u"bab"), "0,0|1,2|2,2|3,3");
    // An empty match found after the search's start is reported once, not again by the next call.
    EXPECT_EQ(FindAll(u"(?=b)", u"ab"), "1,1");
    EXPECT_EQ(FindAll(u"\\b", u"ab cd"), "0,0|2,2|3,3|5,5");
    EXPECT_EQ(FindAll(u"x", u"axbx"), "1,2|3,4");
}

TEST(RegexLanguage, Escapes) {
    EXPECT_EQ(Find(u"\\x41", u"zA"), "1,2");
    EXPECT_EQ(Find(u"\\x4", std::u16string(u"a\x04")), "1,2");
    EXPECT_EQ(Find(u"\\xZ", u"ZxZ"), "1,3");  // \x without a digit is the letter x
    EXPECT_EQ(Find(u"\\x414", u"A4"), "0,2"); // at most two digits
    EXPECT_EQ(Find(u"\\u263A\\u{41}\\x{263a}", u"\u263AA\u263A"), "0,3");
    EXPECT_EQ(Find(u"\\u", u"u"), "0,1");
    EXPECT_EQ(Find(u"\\x{zz}", u"x{zz}"), "0,5"); // malformed braces: the letter, then literals
    EXPECT_EQ(Find(u"\\t\\n\\r\\a\\e\\f\\v", std::u16string(u"\t\n\r\x07\x1B\f\v")), "0,7");
    EXPECT_EQ(Find(u"a\\", u"a\\"), "0,2");           // a final backslash is itself
    EXPECT_EQ(Find(u"\\.\\*\\q", u"a.*q"), "1,4");    // other escapes are literals
    EXPECT_EQ(Find(u"\\Q.*(\\E+", u"x.*((("), "1,6"); // quoted text, then + on the last unit
    EXPECT_EQ(Find(u"\\Q[a]", u"[a]"), "0,3");        // quote mode running to the end
    EXPECT_EQ(Find(u"\\Ua.b\\E\\Lc\\E", u"A.Bc"), "0,4");
    EXPECT_EQ(Find(u"\\Ua.b\\E", u"a.b"), "");
    EXPECT_EQ(Find(u"a\\Eb", u"ab"), "0,2"); // a stray \E yields nothing
}

TEST(RegexLanguage, Classes) {
    EXPECT_EQ(Find(u"[b-d]+", u"abcde"), "1,4");
    EXPECT_EQ(Find(u"[^a-c]", u"abcd"), "3,4");
    EXPECT_EQ(Find(u"[\\d_]+", u"a1_2b"), "1,4");
    EXPECT_EQ(Find(u"[\\s]", u"a\tb"), "1,2");
    EXPECT_EQ(Find(u"[^\\W]+", u"!ab!"), "1,3");
    EXPECT_EQ(Find(u"[a-]+", u"x-a-"), "1,4"); // '-' next to ']' is literal
    EXPECT_EQ(Find(u"[-a]+", u"x-a"), "1,3");
    EXPECT_EQ(Find(u"[\\d-z]+", u"x1-z"), "1,4"); // '-' after a nested class is literal
    EXPECT_EQ(Find(u"[.]", u"ab.c"), "2,3");      // '.' in a class is a literal dot
    EXPECT_EQ(Find(u"[\\b]", std::u16string(u"a\x08")), "1,2");
    EXPECT_EQ(Find(u"[[:digit:]x]+", u"ab1x2c"), "2,5");
    EXPECT_EQ(Find(u"[[:^alpha:]]+", u"ab12c"), "2,4");
    EXPECT_EQ(Find(u"[:upper:]+", u"abCDe"), "2,4"); // a POSIX class outside brackets
    EXPECT_EQ(Find(u"[:nosuch:]", u"abc:"), "");     // undefined names never match
    EXPECT_EQ(Find(u"[[:nosuch:]b]", u"ab"), "1,2");
    EXPECT_EQ(Find(u"[[x]", u"[x"), "0,1"); // '[' without ':' is literal
    EXPECT_EQ(Find(u"[\\]]", u"a]"), "1,2");
    EXPECT_EQ(Find(u"[]a]", u"a]"), "");    // ']' closes at once: an empty class
    EXPECT_EQ(Find(u"[abc", u"xc"), "1,2"); // an unterminated class ends with the pattern
    for (const char16_t* name : {u"alnum", u"alpha", u"ascii", u"blank", u"cntrl", u"digit", u"graph", u"lower",
                                 u"print", u"punct", u"space", u"upper", u"xdigit"}) {
        std::u16string pattern = std::u16string(u"[[:") + name + u":]]";
        EXPECT_NE(Find(pattern, std::u16string(u"aZ9 \t!\x01\x80")), "") << "posix class " << pattern.size();
    }
    EXPECT_EQ(Find(u"[[:blank:]]+", u"a \tb"), "1,3");
    EXPECT_EQ(Find(u"[[:xdigit:]]+", u"xfF0g"), "1,4");
}

TEST(RegexLanguage, IgnoreCaseWidensClasses) {
    EXPECT_EQ(Find(u"[a-c]", u"B", FlagIgnoreCase), "0,1");
    EXPECT_EQ(Find(u"[X-b]+", u"xYZAB_", FlagIgnoreCase), "0,6"); // X-Z, [ \ ] ^ _ `, a-b and partners
    EXPECT_EQ(Find(u"[^a]", u"Aab", FlagIgnoreCase), "2,3");
    EXPECT_EQ(Find(u"[q]", u"Q", FlagIgnoreCase), "0,1");
    EXPECT_EQ(Find(u"(?i)abc", u"xABC"), "1,4");
    EXPECT_EQ(Find(u"(a)\\1", u"aA", FlagIgnoreCase), "0,2 0,1");
    EXPECT_EQ(Find(u"(a)\\1", u"aA"), "");
}

TEST(RegexLanguage, WhitespaceClassesAgreeInBothDirections) {
    std::u16string spaces = u" \t\n\v\f\r";
    EXPECT_EQ(FindAll(u"\\s", spaces), "0,1|1,2|2,3|3,4|4,5|5,6");
    EXPECT_EQ(FindAll(u"\\s", spaces, FlagRightToLeft), "5,6|4,5|3,4|2,3|1,2|0,1");
    EXPECT_EQ(Find(u"\\S+", u"  ab "), "2,4");
}

TEST(RegexLanguage, Anchors) {
    EXPECT_EQ(FindAll(u"^a", u"a\na"), "0,1");
    EXPECT_EQ(FindAll(u"^a", u"a\na\ra\r\na", FlagMultiLine), "0,1|2,3|4,5|7,8");
    EXPECT_EQ(FindAll(u"a$", u"a\na"), "2,3");
    EXPECT_EQ(FindAll(u"a$", u"a\na\ra\r\na", FlagMultiLine), "0,1|2,3|4,5|7,8");
    EXPECT_EQ(FindAll(u"$", u"\r\n", FlagMultiLine), "0,0|2,2"); // not between 13 and 10
    EXPECT_EQ(Find(u"\\Aa", u"ba"), "");
    EXPECT_EQ(Find(u"a\\z", u"a\n"), "");
    EXPECT_EQ(Find(u"a\\Z", u"a\n"), "0,1");
    EXPECT_EQ(Find(u"a\\Z", u"a\r\n"), "0,1");
    EXPECT_EQ(Find(u"a\\Z", u"a\n\n"), "");
    EXPECT_EQ(FindAll(u"\\Bb", u"ab b"), "1,2");
}

TEST(RegexLanguage, Quantifiers) {
    EXPECT_EQ(Find(u"a+?", u"aaa"), "0,1");
    EXPECT_EQ(Find(u"a*?b", u"aab"), "0,3");
    EXPECT_EQ(Find(u"a++a", u"aaa"), ""); // possessive never gives back
    EXPECT_EQ(Find(u"a{2}", u"aaa"), "0,2");
    EXPECT_EQ(Find(u"a{2,}", u"aaaa"), "0,4");
    EXPECT_EQ(Find(u"a{2,3}", u"aaaa"), "0,3");
    EXPECT_EQ(Find(u"a{2,3}?", u"aaaa"), "0,2");
    EXPECT_EQ(Find(u"a{ 2 , 3 }", u"aaaa"), "0,3"); // spaces around the numbers
    EXPECT_EQ(Find(u"a{3,1}", u"aaaa"), "0,3");     // m below n is raised to n
    EXPECT_EQ(Find(u"a{2}?b", u"aab"), "0,3");      // exact count swallows ? and +
    EXPECT_EQ(Find(u"ax{,5}b", u"ab"), "0,2");      // {,5} is the empty element
    EXPECT_EQ(Find(u"ax{,5}b", u"axb"), "");
    EXPECT_EQ(Find(u"a{0}b", u"ab"), "1,2");
    EXPECT_EQ(Find(u"a{1234567}", u"a{1234567}"), "0,10"); // 7 digits: a literal brace
    EXPECT_EQ(Find(u"a{x}", u"a{x}"), "0,4");
    EXPECT_EQ(Find(u"ab+", u"abbb"), "0,4"); // the quantifier binds to one unit
    EXPECT_EQ(Find(u"*a", u"x*a"), "1,3");   // a leading quantifier is literal
    EXPECT_EQ(Find(u"a**", u"aa*"), "0,3");  // a second quantifier is literal
    EXPECT_EQ(Find(u"}]", u"a}]"), "1,3");
    EXPECT_EQ(Find(u"a)b", u"a)b"), "0,3"); // a stray ')' is literal
    EXPECT_EQ(Find(u"(a|ab)(c|bcd)(d*)", u"abcd"), "0,4 0,1 1,4 4,4");
    EXPECT_EQ(Find(u"(a+|b)*", u"ab"), "0,2 1,2");
    EXPECT_EQ(Find(u"(a?)*", u"b"), "0,0 0,0");
    EXPECT_EQ(Find(u"(?:a|ab)*c", u"ababc"), "0,5");
    EXPECT_EQ(Find(u"(ab|a)*?b", u"abab"), "0,4 2,3");  // fewest repetitions first
    EXPECT_EQ(Find(u"^(a|ab){2}$", u"aab"), "0,3 1,3"); // exact count backtracks into earlier repetitions
}

TEST(RegexLanguage, GroupsAndNames) {
    EXPECT_EQ(Find(u"(a)|b", u"b"), "0,1 -1,-1");
    EXPECT_EQ(Find(u"(a)(?:b)(c)", u"abc"), "0,3 0,1 2,3");
    EXPECT_EQ(Find(u"((a)b)", u"ab"), "0,2 0,2 0,1");
    EXPECT_EQ(Find(u"(a", u"xa"), "1,2 1,2"); // an unterminated group ends with the pattern
    // Named groups are numbered after the numbered ones, in order of appearance.
    EXPECT_EQ(Find(u"(?<x>a)(b)(?'y'c)(?P<z>d)", u"abcd"), "0,4 1,2 0,1 2,3 3,4");
    EXPECT_EQ(Find(u"(?<x>a)|(?<X>b)", u"b"), "0,1 0,1"); // names equal without regard to case share a number
    EXPECT_EQ(Find(u"(?<3>a)", u"a"), "0,1 -1,-1 -1,-1 0,1");
    // A named group around another comes first; names and numbers refer to the same groups.
    EXPECT_EQ(Find(u"(?<outer>a(?<inner>b))", u"ab"), "0,2 0,2 1,2");
    EXPECT_EQ(Find(u"(?<outer>a(?<inner>b))\\1\\k<inner>", u"xababb"), "1,6 1,3 2,3");
    EXPECT_EQ(Find(u"(?<o>x(?<i>y)(?<j>z))-\\3\\k<o>", u"xyz-zxyz"), "0,8 0,3 1,2 2,3");
    EXPECT_EQ(Find(u"(?<n>x(y))", u"xy"), "0,2 1,2 0,2");
    for (const char16_t* ref : {u"\\k<n>", u"\\k'n'", u"\\g<n>", u"\\g'n'"})
        EXPECT_EQ(Find(std::u16string(u"(?<n>ab)-") + ref, u"ab-ab"), "0,5 0,2");
    EXPECT_EQ(Find(u"(a)(b)\\k2\\g1\\2", u"abbab"), "0,5 0,1 1,2");
    EXPECT_EQ(Find(u"(a)\\k<nosuch>", u"a"), ""); // undefined names never match
    EXPECT_EQ(Find(u"\\k<n>(?<n>a)", u"aa"), ""); // not matched yet
    EXPECT_EQ(Find(u"(a)\\5", u"a"), "");
    EXPECT_EQ(Find(u"(a)\\k", u"ak"), "0,2 0,1"); // \k alone is the letter
}

TEST(RegexLanguage, ReferenceInsideItsOwnGroupSeesTheLastRepetition) {
    EXPECT_EQ(Find(u"(a|b\\1)+", u"aba"), "0,3 1,3");
    EXPECT_EQ(Find(u"(a\\1?)+", u"aaa"), "0,3 1,3");
    EXPECT_EQ(Find(u"(?<n>a|b\\k<n>)+", u"aba"), "0,3 1,3");
    EXPECT_EQ(Find(u"(a(?(1)b|c))+", u"acab"), "0,4 2,4");
    // The first time round there is nothing yet to refer to.
    EXPECT_EQ(Find(u"(a\\1)", u"aa"), "");
    EXPECT_EQ(Find(u"(a(?(1)b|c))", u"ab"), "");
    // A repetition given back hands the group its capture from the one before.
    EXPECT_EQ(Find(u"(a|b\\1)+ab", u"abaab"), "0,5 1,3");
    // Leftwards the same holds for the repetition before, to the right.
    EXPECT_EQ(Find(u"(a|\\1b)+", u"aba", FlagRightToLeft), "0,3 0,2");
}

TEST(RegexLanguage, LookAroundAndAtomic) {
    EXPECT_EQ(Find(u"a(?=b)", u"acab"), "2,3");
    EXPECT_EQ(Find(u"a(?!b)", u"abac"), "2,3");
    EXPECT_EQ(Find(u"(?<=b)a", u"aba"), "2,3");
    EXPECT_EQ(Find(u"(?<!b)a", u"baa"), "2,3");
    EXPECT_EQ(Find(u"(?<=x+)y", u"xxy"), "2,3"); // look-behind of any length
    EXPECT_EQ(Find(u"(?<=(a)b)c", u"abc"), "2,3 0,1");
    EXPECT_EQ(Find(u"(?=(a))a", u"a"), "0,1 0,1");
    EXPECT_EQ(Find(u"(?!(a)b)a", u"ac"), "0,1 -1,-1"); // negative assertions leave no captures
    EXPECT_EQ(Find(u"(?>a+)a", u"aaa"), "");
    EXPECT_EQ(Find(u"(?>a|ab)c", u"abc"), "");
    EXPECT_EQ(Find(u"(?>(a)|ab)c|(a)bc", u"abc"), "0,3 -1,-1 0,1");
}

TEST(RegexLanguage, Conditionals) {
    EXPECT_EQ(FindAll(u"(a)?(?(1)b|c)", u"abc"), "0,2 0,1|2,3 -1,-1");
    EXPECT_EQ(Find(u"(?<n>a)?(?(n)b|c)", u"xc"), "1,2 -1,-1");
    EXPECT_EQ(Find(u"(?<n>a)?(?(<n>)b|c)", u"ab"), "0,2 0,1");
    EXPECT_EQ(Find(u"(?(?=a)ab|cd)", u"cdab"), "0,2");
    EXPECT_EQ(Find(u"(?(?<=a)b|c)", u"ab"), "1,2");
    EXPECT_EQ(Find(u"(?(xy)xyz|q)", u"xyq xyz"), "2,3"); // other text is a look-ahead test
    EXPECT_EQ(Find(u"(?(xy)xyz|q)", u"xyz"), "0,3");
    EXPECT_EQ(Find(u"(?(xy)xyz|q)", u"q"), "0,1");
    EXPECT_EQ(Find(u"(?(2)a|b)", u"b"), "0,1");          // a group that does not exist never matched
    EXPECT_EQ(Find(u"(a)?(?(1)b)c", u"c"), "0,1 -1,-1"); // a missing branch matches empty
}

TEST(RegexLanguage, Recursion) {
    std::u16string balanced = u"\\((?:[^()]|(?R))*\\)";
    EXPECT_EQ(Find(balanced, u"x(a(b)(c(d)))y"), "1,13");
    EXPECT_EQ(Find(u"^(a(?1)?b)$", u"aaabbb"), "0,6 0,6"); // the outermost capture survives
    EXPECT_EQ(Find(u"(?<p>a(?R<p>)?b)", u"aabb"), "0,4 0,4");
    EXPECT_EQ(Find(u"(?<p>a(?R'p')?b)", u"aabb"), "0,4 0,4");
    EXPECT_EQ(Find(u"(x)(?1)", u"xx"), "0,2 1,2");
    EXPECT_EQ(Find(u"(?R)", u"a"), ""); // endless recursion fails at the limit
    EXPECT_EQ(Find(u"a(?5)", u"a"), "");
    EXPECT_EQ(Find(u"a(?R<nosuch>)", u"a"), "");
}

TEST(RegexLanguage, InlineFlagsCommentsExtended) {
    EXPECT_EQ(Find(u"a(?i)b", u"aB"), "0,2");
    EXPECT_EQ(Find(u"a(?i)b", u"AB"), "");
    EXPECT_EQ(Find(u"(?i:b)c", u"BC"), "");
    EXPECT_EQ(Find(u"(?i:b)c", u"Bc"), "0,2");
    EXPECT_EQ(Find(u"(x(?i)y)z", u"xYz"), "0,3 0,2"); // the flag ends with its group
    EXPECT_EQ(Find(u"(x(?i)y)z", u"xYZ"), "");
    EXPECT_EQ(Find(u"(?i)a(?-i)b", u"Ab"), "0,2");
    EXPECT_EQ(Find(u"(?i)a(?-i)b", u"AB"), "");
    EXPECT_EQ(Find(u"(?s).", u"\n"), "0,1");
    EXPECT_EQ(Find(u"(?m)^b", u"a\nb"), "2,3");
    EXPECT_EQ(Find(u"(?S)(?-s).", u"\na", FlagDotAll), "1,2");
    EXPECT_EQ(Find(u"(?xq)a b", u"a b"), "0,3"); // other letters, x included, are ignored
    EXPECT_EQ(Find(u"a(?#comment)b", u"ab"), "0,2");
    EXPECT_EQ(Find(u"a b # comment\n c\\ d", u"abc d", FlagExtended), "0,5");
    EXPECT_EQ(Find(u"[ ]", u"a b", FlagExtended), "1,2"); // blanks in a class still count
    EXPECT_EQ(Find(u"(?P=x)", u"?P=x"), "0,4");           // an unknown (? form: the '?' is literal
}

TEST(RegexLanguage, RightToLeft) {
    EXPECT_EQ(Find(u"\\d+", u"ab12cd34", FlagRightToLeft), "6,8");
    EXPECT_EQ(FindAll(u"\\d+", u"ab12cd34", FlagRightToLeft), "6,8|2,4");
    EXPECT_EQ(Find(u"(a+)(b+)", u"aabb", FlagRightToLeft), "0,4 0,2 2,4");
    EXPECT_EQ(Find(u"(a)b\\1", u"xaba", FlagRightToLeft), ""); // the group is not matched yet leftwards
    EXPECT_EQ(Find(u"\\1b(a)", u"aba", FlagRightToLeft), "0,3 2,3");
    EXPECT_EQ(Find(u"a(?=b)", u"abab", FlagRightToLeft), "2,3");
    EXPECT_EQ(Find(u"^ab$", u"ab", FlagRightToLeft), "0,2");
    EXPECT_EQ(FindAll(u"a*", u"bab", FlagRightToLeft), "3,3|1,2|1,1|0,0");
}

TEST(RegexLanguage, ContinueAndStartPositions) {
    EXPECT_EQ(FindAll(u"\\Ga", u"aaba", FlagContinue), "0,1|1,2");
    EXPECT_EQ(FindAll(u"\\Ga", u"aaba"), "0,1|1,2|3,4"); // without the flag \G is empty
    EXPECT_EQ(FindAll(u"(?g)\\Ga", u"aaba"), "0,1|1,2");
    EXPECT_EQ(FindAll(u"[\\G]a", u"ab"), ""); // ignored inside a class: an empty class
    EXPECT_EQ(Find(u"a", u"aba", FlagNone, false, 1), "2,3");
    EXPECT_EQ(Find(u"a", u"aba", FlagNone, false, 4), ""); // beyond the end
    EXPECT_EQ(Find(u"$", u"aba", FlagNone, false, 3), "3,3");
    EXPECT_EQ(Find(u"a", u"aba", FlagRightToLeft, false, 2), "0,1");
    EXPECT_EQ(Find(u"a", u"aba", FlagRightToLeft, false, 9), "2,3"); // beyond: from the end
}

TEST(RegexLanguage, EmptyAndRecompiledPatterns) {
    RegexPattern regex;
    EXPECT_FALSE(regex.Compile(_null));
    EXPECT_FALSE(regex.IsCompiled());
    EXPECT_FALSE(regex.Match(u"abc", 3).IsMatched());
    EXPECT_TRUE(regex.Compile(u"(b)(c)"));
    EXPECT_EQ(regex.GetHighestGroup(), 2);
    EXPECT_EQ(RegexTest::Spans(regex.Match(u"abc", 3)), "1,3 1,2 2,3");
    EXPECT_TRUE(regex.Compile(u"a"));
    EXPECT_EQ(regex.GetHighestGroup(), 0);
    EXPECT_EQ(RegexTest::Spans(regex.Match(u"ba", 2)), "1,2");
    EXPECT_EQ(Find(u"", u"ab"), "0,0");
    EXPECT_EQ(FindAll(u"", u""), "0,0");
    EXPECT_FALSE(regex.Match(_null, 5).IsMatched());
    EXPECT_TRUE(regex.Compile(u"a*"));
    EXPECT_EQ(RegexTest::Spans(regex.Match(_null, 5)), "0,0"); // a null text is empty
}

TEST(RegexLanguage, OnePatternSearchedFromSeveralThreads) {
    RegexPattern regex(u"\"(\\d+)\":\\[(.+?)\\]");
    std::u16string text;
    for (int key = 0; key < 200; ++key) {
        text += u'"';
        text += char16_t(u'0' + key % 10);
        text += u"\":[a,b],";
    }
    std::vector<int> counts(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                RegexSearchState state = regex.BeginSearch(text.data(), int32_t(text.size()));
                while (regex.FindNext(state).IsMatched()) ++counts[size_t(t)];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int count : counts) EXPECT_EQ(count, 200 * 20);
}
