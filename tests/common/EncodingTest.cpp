// The UTF-8 converters' exact truncation and skipping rules, and the locale converters.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include "CaptureLog.h"
#include "Source/Common/StringEncoding.h"

namespace {

std::string ToUtf8(const WideChar* input, int32_t count = -1, int32_t size = 64, bool* truncated = _null,
                   int32_t* length = _null) {
    char output[65];
    std::memset(output, '#', sizeof(output));
    Utf16ToUtf8(output, size, input, count, length, truncated);
    EXPECT_EQ(output[size], '#') << "wrote past the output size";
    return output;
}

std::u16string ToUtf16(const char* input, int32_t count = -1, int32_t size = 64, bool* truncated = _null,
                       int32_t* length = _null) {
    WideChar output[65];
    for (WideChar& unit : output) unit = u'#';
    Utf8ToUtf16(output, size, input, count, length, truncated);
    EXPECT_EQ(output[size], u'#') << "wrote past the output size";
    return output;
}

// Switches the C library's character type for one test.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : mOld(std::setlocale(LC_CTYPE, _null)) {
        mAvailable = std::setlocale(LC_CTYPE, name) != _null;
    }
    ~LocaleScope() { std::setlocale(LC_CTYPE, mOld.c_str()); }
    bool mAvailable;

private:
    std::string mOld;
};

} // namespace

TEST(Encoding, Utf16ToUtf8EncodesUnitByUnit) {
    EXPECT_EQ(ToUtf8(u"A\u00e9\u20ac"), "A\xc3\xa9\xe2\x82\xac");
    // A surrogate pair is two 3-byte sequences.
    EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xed\xa0\xbd\xed\xb8\x80");
    int32_t length = -1;
    bool truncated = true;
    EXPECT_EQ(ToUtf8(u"abcdef", 3, 64, &truncated, &length), "abc");
    EXPECT_EQ(length, 3);
    EXPECT_FALSE(truncated);
}

TEST(Encoding, Utf16ToUtf8StopsBeforeACharacterThatWouldNotFit) {
    bool truncated = false;
    int32_t length = -1;
    // a (1 byte) + euro (3 bytes) + terminator needs 5; with 4 only "a" goes out.
    EXPECT_EQ(ToUtf8(u"a\u20ac", -1, 4, &truncated, &length), "a");
    EXPECT_TRUE(truncated);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(ToUtf8(u"a\u20ac", -1, 5, &truncated, &length), "a\xe2\x82\xac");
    EXPECT_FALSE(truncated);
    EXPECT_EQ(ToUtf8(u"abc", -1, 1, &truncated, &length), "");
    EXPECT_TRUE(truncated);
    char untouched = '#';
    Utf16ToUtf8(&untouched, 0, u"abc", -1, &length, &truncated);
    EXPECT_EQ(untouched, '#');
    EXPECT_EQ(length, 0);
}

TEST(Encoding, Utf8ToUtf16SkipsStrayBytesAndDropsCutSequences) {
    EXPECT_EQ(ToUtf16("\x41\x80\x42"), u"AB");
    EXPECT_EQ(ToUtf16("\x41\xe2\x82"), u"A");
    EXPECT_EQ(ToUtf16("\x41\xc3"), u"A");
    EXPECT_EQ(ToUtf16("A\xc3\xa9\xe2\x82\xac"), u"A\u00e9\u20ac");
    // A 4-byte lead is skipped, and so are its continuation bytes, one by one.
    EXPECT_EQ(ToUtf16("A\xf0\x9f\x98\x80"
                      "B"),
              u"AB");
    // Following bytes are taken as they come, whatever their top bits.
    EXPECT_EQ(ToUtf16("\xc3\x41"), std::u16string(1, char16_t((0x03 << 6) | 0x01)));
    // The count limits the input; a sequence cut by it is dropped.
    EXPECT_EQ(ToUtf16("A\xc3\xa9", 2), u"A");
    EXPECT_EQ(ToUtf16("abc\0def", 7), u"abc");
}

TEST(Encoding, Utf8ToUtf16KeepsToOutputSizeLessOne) {
    bool truncated = false;
    int32_t length = -1;
    EXPECT_EQ(ToUtf16("0123456789", -1, 4, &truncated, &length), u"012");
    EXPECT_TRUE(truncated);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(ToUtf16("012", -1, 4, &truncated, &length), u"012");
    EXPECT_FALSE(truncated);
    WideChar untouched = u'#';
    Utf8ToUtf16(&untouched, 0, "abc", -1, &length, &truncated);
    EXPECT_EQ(untouched, u'#');
    EXPECT_EQ(length, 0);
}

TEST(Encoding, UnterminatedInputWithACountIsReadNoFurther) {
    char* bytes = static_cast<char*>(std::malloc(4));
    std::memcpy(bytes, "ab\xe2\x82", 4);
    EXPECT_EQ(ToUtf16(bytes, 4), u"ab");
    EXPECT_EQ(Utf8ToUtf16Count(bytes, 4), 2);
    std::free(bytes);
    WideChar* units = static_cast<WideChar*>(std::malloc(2 * sizeof(WideChar)));
    units[0] = u'x';
    units[1] = u'\u00e9';
    EXPECT_EQ(ToUtf8(units, 2), "x\xc3\xa9");
    std::free(units);
}

TEST(Encoding, WithoutOutputTheResultIsAllocatedExactly) {
    int32_t length = 0;
    char* narrow = Utf16ToUtf8(_null, 0, u"a\u20ac", -1, &length);
    ASSERT_NE(narrow, _null);
    EXPECT_EQ(length, 4);
    EXPECT_STREQ(narrow, "a\xe2\x82\xac");
    std::free(narrow);
    WideChar* wide = Utf8ToUtf16(_null, 0, "a\xe2\x82\xac\x80", -1, &length);
    ASSERT_NE(wide, _null);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(std::u16string(wide), u"a\u20ac");
    std::free(wide);
}

TEST(Encoding, MissingInputIsReportedAndGivesAnEmptyResult) {
    CaptureLog log;
    char narrow[4] = "xyz";
    int32_t length = 9;
    Utf16ToUtf8(narrow, 4, _null, -1, &length);
    EXPECT_EQ(narrow[0], 0);
    EXPECT_EQ(length, 0);
    WideChar wide[4] = u"xyz";
    Utf8ToUtf16(wide, 4, _null);
    EXPECT_EQ(wide[0], 0);
    EXPECT_TRUE(log.ErrorContains(u"Assertion Failed : str != _null\r\nSource/Common/StringEncoding:"));
    EXPECT_EQ(log.mError.size(), 2u);
}

TEST(Encoding, LocaleConversionsFollowTheCharacterType) {
    {
        LocaleScope scope("C");
        char narrow[16];
        int32_t length = -1;
        WideToAnsi(narrow, 16, u"ab\u00e9", -1, &length);
#ifdef _WIN32
        // Windows converts in the system's ANSI code page whatever the C library's locale.
        if (GetACP() != 1252) GTEST_SKIP() << "the expectation is the Western European code page's";
        EXPECT_STREQ(narrow, "ab\xe9");
#else
        EXPECT_STREQ(narrow, "ab?");
#endif
        EXPECT_EQ(length, 3);
        WideChar wide[16];
        AnsiToWide(wide, 16, "plain", -1, &length);
        EXPECT_EQ(std::u16string(wide), u"plain");
        EXPECT_EQ(length, 5);
    }
    LocaleScope scope("C.UTF-8");
    if (!scope.mAvailable) GTEST_SKIP() << "no C.UTF-8 locale";
    char narrow[16];
    int32_t length = -1;
    WideToAnsi(narrow, 16, u"a\u00e9\U0001F600", -1, &length);
    EXPECT_STREQ(narrow, "a\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(length, 7);
    // A character is never cut: é needs two bytes and only one is left.
    WideToAnsi(narrow, 3, u"a\u00e9", -1, &length);
    EXPECT_STREQ(narrow, "a");
    EXPECT_EQ(length, 1);
    WideChar wide[16];
    AnsiToWide(wide, 16, "a\xc3\xa9\xf0\x9f\x98\x80", -1, &length);
    EXPECT_EQ(std::u16string(wide), u"a\u00e9\U0001F600");
    EXPECT_EQ(length, 4);
    AnsiToWide(wide, 4, "a\xc3\xa9\xf0\x9f\x98\x80", -1, &length); // the pair does not fit
    EXPECT_EQ(std::u16string(wide), u"a\u00e9");
    AnsiToWide(wide, 16, "a\xc3", -1, &length); // cut at the end
    EXPECT_EQ(std::u16string(wide), u"a");
    char* allocated = WideToAnsi(_null, 0, u"\u20ac", -1, &length);
    ASSERT_NE(allocated, _null);
    EXPECT_STREQ(allocated, "\xe2\x82\xac");
    std::free(allocated);
}
