// The UTF-16 formatter: every conversion the engine's texts use, and its buffer bounds.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "CaptureLog.h"
#include "Source/Common/StringFormatter.h"

namespace {

std::u16string F(const WideChar* format, ...) {
    WideChar buffer[512];
    va_list arguments;
    va_start(arguments, format);
    FormatIntoV(buffer, 512, format, arguments);
    va_end(arguments);
    return buffer;
}

std::u16string Widen(const char* text) {
    std::u16string wide;
    for (; *text; ++text) wide += char16_t(static_cast<unsigned char>(*text));
    return wide;
}

// The comparisons with the C library's snprintf hold where it follows the C standard (glibc).
// mingw-w64's printf puts a space before an unsigned number for the space flag and drops the
// width of %g with long precisions; the formatter is the same code on every platform.
#ifdef _WIN32
#define SkipWhereTheCLibraryIsNoOracle() GTEST_SKIP() << "the Windows C library's printf departs from the standard"
#else
#define SkipWhereTheCLibraryIsNoOracle() (void)0
#endif

} // namespace

TEST(Formatter, TheSystemsIntegerForms) {
    EXPECT_EQ(F(u"%.4d/%.2d/%.2d-%.2d:%.2d:%.2d ", 2016, 6, 18, 18, 11, 3), u"2016/06/18-18:11:03 ");
    EXPECT_EQ(F(u"%02d|%x|%.8x|%.2X", 5, 0xABCu, 0xABCu, 0xAu), u"05|abc|00000abc|0A");
    EXPECT_EQ(F(u"[%*d] [%-*d] [%.*d] [%*d]", 6, 42, 4, 1, 3, 9, -4, 1), u"[    42] [1   ] [009] [1   ]");
    // long is 64-bit on Linux x86_64 and 32-bit on Windows; size_t is the pointer's width.
    EXPECT_EQ(F(u"%ld %lu %zu", LONG_MIN, ULONG_MAX, size_t(77)),
              sizeof(long) == 8 ? u"-9223372036854775808 18446744073709551615 77" : u"-2147483648 4294967295 77");
    EXPECT_EQ(F(u"%I64d %I64X", 1LL << 40, 0xFFULL), u"1099511627776 FF");
}

TEST(Formatter, IntegersMatchTheCLibraryAcrossFlagsWidthsAndPrecisions) {
    SkipWhereTheCLibraryIsNoOracle();
    const long long values[] = {0, 1, -1, 7, 8, 10, 255, -255, 65535, 2147483647LL, -2147483648LL, 4294967295LL,
                                LLONG_MAX, LLONG_MIN};
    const char* flags[] = {"", "-", "+", " ", "0", "#", "#0", "-#", "+0", " 0"};
    const char* widths[] = {"", "1", "5", "12", "25"};
    const char* precisions[] = {"", ".0", ".1", ".3", ".8", ".20"};
    const char* conversions[] = {"d", "i", "u", "x", "X", "o", "lld", "llu", "llx", "llo", "hd", "hu", "hhx"};
    for (long long value : values)
        for (const char* flag : flags)
            for (const char* width : widths)
                for (const char* precision : precisions)
                    for (const char* conversion : conversions) {
                        char format[32];
                        std::snprintf(format, sizeof(format), "%%%s%s%s%s", flag, width, precision, conversion);
                        char expected[512];
                        bool wide = conversion[0] == 'l';
                        if (wide) std::snprintf(expected, sizeof(expected), format, value);
                        else std::snprintf(expected, sizeof(expected), format, int(value));
                        std::u16string wideFormat = Widen(format);
                        std::u16string ours = wide ? F(wideFormat.c_str(), value) : F(wideFormat.c_str(), int(value));
                        ASSERT_EQ(ours, Widen(expected)) << format << " of " << value;
                    }
}

TEST(Formatter, PointersAreUpperCaseHexOfPointerWidth) {
    const bool wide = sizeof(void*) == 8;
    EXPECT_EQ(F(u"%p", reinterpret_cast<void*>(0x1234ABCD)), wide ? u"000000001234ABCD" : u"1234ABCD");
    EXPECT_EQ(F(u"%p", static_cast<void*>(_null)), wide ? u"0000000000000000" : u"00000000");
}

TEST(Formatter, TheSystemsFloatForms) {
    EXPECT_EQ(F(u"%5.3f|%3.2f|%.1f|%a", 1.5, 3.14159, 99.95, 1.0), u"1.500|3.14|100.0|0x1p+0");
    EXPECT_EQ(F(u"%Lf %#.0f", 1.25L, 2.0), u"1.250000 2.");
    EXPECT_EQ(FloatToText(12.3456f), String(u"12.346"));
    EXPECT_EQ(FloatToText(-0.5f), String(u"-0.500"));
}

TEST(Formatter, FloatsMatchTheCLibraryAcrossFlagsWidthsAndPrecisions) {
    SkipWhereTheCLibraryIsNoOracle();
    const double values[] = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 1.0 / 3.0, 99.995, 123456789.0, 1e22, 1e300,
                             -1e-300, 4.9e-324, 2.2250738585072014e-308, 0.1, 3.14159265358979, -7.0,
                             1e15 + 0.3, 5e-5, HUGE_VAL, -HUGE_VAL, NAN, -NAN};
    const char* flags[] = {"", "-", "+", " ", "0", "+0", "- ", "-+"};
    const char* widths[] = {"", "1", "8", "12", "30"};
    const char* precisions[] = {"", ".0", ".1", ".2", ".3", ".6", ".10", ".17", ".40"};
    const char conversions[] = {'f', 'F', 'e', 'E', 'g', 'G'};
    int checked = 0;
    for (double value : values)
        for (const char* flag : flags)
            for (const char* width : widths)
                for (const char* precision : precisions)
                    for (char conversion : conversions) {
                        char format[32];
                        std::snprintf(format, sizeof(format), "%%%s%s%s%c", flag, width, precision, conversion);
                        char expected[512];
                        std::snprintf(expected, sizeof(expected), format, value);
                        std::u16string wideFormat = Widen(format);
                        ASSERT_EQ(F(wideFormat.c_str(), value), Widen(expected)) << format << " of " << value;
                        ++checked;
                    }
    EXPECT_GT(checked, 10000);
}

TEST(Formatter, FloatWiderThanAnyLocalBufferIsComplete) {
    std::u16string text = F(u"%.300f", 1e10);
    EXPECT_EQ(text.size(), 12u + 300u); // "10000000000." and the digits
    std::u16string wide = Format(u"%1000.1f", 1.0).Data();
    EXPECT_EQ(wide.size(), 1000u);
    EXPECT_EQ(wide.substr(997), u"1.0");
}

TEST(Formatter, TextConversions) {
    EXPECT_EQ(F(u"[Loader] Download VOB(%d) from url: %ls", 3, u"http://x/y.vob"),
              u"[Loader] Download VOB(3) from url: http://x/y.vob");
    EXPECT_EQ(F(u"%ls|%5ls|%-5ls|%.2ls", u"ab", u"ab", u"ab", u"abcdef"), u"ab|   ab|ab   |ab");
    EXPECT_EQ(F(u"%ls and %ls", static_cast<const WideChar*>(_null), u"x"), u"(null) and x");
    EXPECT_EQ(F(u"%s", "h\xc3\xa9\xe2\x82\xac"), u"h\u00e9\u20ac");
    EXPECT_EQ(F(u"[%4s] [%.2s]", "\xc3\xa9", "abc"), u"[   \u00e9] [ab]");
    EXPECT_EQ(F(u"%s", static_cast<const char*>(_null)), u"(null)");
    EXPECT_EQ(F(u"%c%c%lc", 'a', 0x20AC, 'z'), u"a\u20acz");
    EXPECT_EQ(F(u"100%% %y %"), u"100% %y %");
}

TEST(Formatter, PrecisionBoundsTheTextRead) {
    // Exactly three units, no terminator: the precision must keep the reader inside them.
    WideChar* wide = static_cast<WideChar*>(std::malloc(3 * sizeof(WideChar)));
    wide[0] = u'x';
    wide[1] = u'y';
    wide[2] = u'z';
    EXPECT_EQ(F(u"%.3ls", wide), u"xyz");
    std::free(wide);
    char* narrow = static_cast<char*>(std::malloc(3));
    narrow[0] = 'a';
    narrow[1] = '\xc3';
    narrow[2] = '\xa9';
    EXPECT_EQ(F(u"%.3s", narrow), u"a\u00e9");
    EXPECT_EQ(F(u"%.2s", narrow), u"a"); // the cut sequence is dropped
    std::free(narrow);
}

TEST(Formatter, NeverWritesPastItsBuffer) {
    WideChar buffer[8];
    for (WideChar& unit : buffer) unit = u'#';
    FormatInto(buffer, 5, u"%ls", u"abcdefgh");
    EXPECT_EQ(std::u16string(buffer), u"abcd");
    EXPECT_EQ(buffer[5], u'#');
    FormatInto(buffer, 5, u"%d", 123456789);
    EXPECT_EQ(std::u16string(buffer), u"1234");
    EXPECT_EQ(buffer[5], u'#');
    FormatInto(buffer, 5, u"%f", 3.5);
    EXPECT_EQ(std::u16string(buffer), u"3.50");
    FormatInto(buffer, 5, u"%s", "ab\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac");
    EXPECT_EQ(std::u16string(buffer), u"ab\u20ac\u20ac");
    EXPECT_EQ(buffer[5], u'#');
    FormatInto(buffer, 5, u"%20d|", 1);
    EXPECT_EQ(std::u16string(buffer), u"    ");
    FormatInto(buffer, 1, u"abc");
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], u' '); // left from the call before: only the first unit was touched
    // Heap buffer of exactly the size, so that the sanitizer sees any overrun.
    WideChar* exact = static_cast<WideChar*>(std::malloc(4 * sizeof(WideChar)));
    FormatInto(exact, 4, u"%ls%s%d%p", u"long text", "more", 12345, exact);
    EXPECT_EQ(std::u16string(exact), u"lon");
    std::free(exact);
}

TEST(Formatter, FormatCutsAt8191Units) {
    std::u16string longText(10000, u'x');
    String text = Format(u"%ls", longText.c_str());
    EXPECT_EQ(text.GetLength(), 8191);
    EXPECT_EQ(Format(u"%d-%ls", 5, u"five"), String(u"5-five"));
    // A NUL unit written by a conversion cuts the string like any assignment.
    String cut = Format(u"a%cb", 0);
    EXPECT_EQ(cut.GetLength(), 1);
    EXPECT_EQ(Format(u"x%sy", "\xc0\x80z").GetLength(), 1);
}

TEST(Formatter, MissingBufferOrFormatIsReported) {
    CaptureLog log;
    WideChar buffer[4] = {u'a', u'b', 0, 0};
    EXPECT_EQ(FormatInto(buffer, 4, _null), buffer);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_TRUE(log.ErrorContains(u"Assertion Failed : buffer != _null && length != 0 && format != _null\r\n"
                                  u"Source/Common/StringFormatter:"));
    EXPECT_EQ(FormatInto(_null, 4, u"x"), _null);
    EXPECT_EQ(FormatInto(buffer, 0, u"x"), buffer);
    EXPECT_TRUE(Format(_null).IsEmpty());
    EXPECT_TRUE(log.ErrorContains(u"Assertion Failed : format != _null\r\n"));
    EXPECT_EQ(log.mError.size(), 4u);
}
