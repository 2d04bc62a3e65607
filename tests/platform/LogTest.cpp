// The log channels, their sinks, the log files and the assertion report.
#include <gtest/gtest.h>

#include <ftw.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>
#include "Source/Common/String.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/BuildStamp.h"
#include "Source/Platform/DebugOutput.h"
#include "Source/Platform/Log.h"

namespace {

struct Captured {
    std::vector<std::u16string> mCalls;
    std::vector<uint8_t> mEndLines;
};

void CapturingSink(const WideChar* text, void* context, uint8_t endLine) {
    Captured* captured = static_cast<Captured*>(context);
    captured->mCalls.push_back(text);
    captured->mEndLines.push_back(endLine);
}

std::u16string Wide(const std::string& narrow) {
    WideChar buffer[4096];
    Utf8ToUtf16(buffer, 4096, narrow.c_str());
    return buffer;
}

std::string Narrow(const std::u16string& wide) {
    char buffer[4096];
    Utf16ToUtf8(buffer, 4096, wide.c_str());
    return buffer;
}

// A fresh folder for the test, removed with everything in it afterwards; the test runs with it
// as its current directory and the channels routed back to the debugger output at the end.
class LogFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vexal-log-XXXXXX";
        std::vector<char> path(pattern.begin(), pattern.end());
        path.push_back(0);
        ASSERT_NE(mkdtemp(path.data()), nullptr);
        mPath = path.data();
        char old[4096];
        ASSERT_NE(getcwd(old, sizeof(old)), nullptr);
        mOldDirectory = old;
        ASSERT_EQ(chdir(mPath.c_str()), 0);
    }
    void TearDown() override {
        SetLogSinks(_null, _null, _null, _null);
        unsetenv("[VEXAL-DEBUG]");
        EXPECT_EQ(chdir(mOldDirectory.c_str()), 0);
        nftw(
            mPath.c_str(), [](const char* p, const struct stat*, int, FTW*) { return remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }

    std::u16string Folder() const { return Wide(mPath); }

    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool Exists(const std::string& path) {
        struct stat s;
        return stat(path.c_str(), &s) == 0;
    }
    // A UTF-16LE file's text after its byte-order mark.
    static std::u16string ReadLog(const std::string& path) {
        std::string bytes = ReadBytes(path);
        EXPECT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
        return text;
    }

    std::string mPath;
    std::string mOldDirectory;
};

const std::regex kStampedLine(R"(\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2} (.*)\r)");

// The messages of a log file's lines, each checked for its time stamp.
std::vector<std::string> Messages(const std::u16string& text) {
    std::vector<std::string> messages;
    std::string narrow = Narrow(text);
    size_t start = 0;
    for (size_t end; (end = narrow.find('\n', start)) != std::string::npos; start = end + 1) {
        std::smatch match;
        std::string line = narrow.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(line, match, kStampedLine)) << line;
        messages.push_back(match.size() > 1 ? match[1].str() : line);
    }
    EXPECT_EQ(start, narrow.size()) << "the last line has no line end";
    return messages;
}

} // namespace

TEST(Log, AssertionReportIsThreeExactLinesOnTheErrorChannel) {
    Captured trace, error;
    SetLogSinks(CapturingSink, &trace, CapturingSink, &error);
    AssertFailed(u"buffer != _null", u"Source/Platform/File", 42);
    SetLogSinks(_null, _null, _null, _null);
    EXPECT_TRUE(trace.mCalls.empty());
    ASSERT_EQ(error.mCalls.size(), 2u);
    EXPECT_TRUE(std::regex_match(Narrow(error.mCalls[0]), std::regex(R"(\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2} )")));
    std::u16string expected = u"Build Date : ";
    expected += BuildDateText();
    expected += u"\r\nAssertion Failed : buffer != _null\r\nSource/Platform/File:42";
    EXPECT_EQ(error.mCalls[1], expected);
    EXPECT_EQ(error.mEndLines[0], 0);
    EXPECT_EQ(error.mEndLines[1], 1);
    // A percent sign in the expression is text, not a conversion.
    SetLogSinks(CapturingSink, &trace, CapturingSink, &error);
    AssertFailed(u"x % 2 == 0 && \"%ls\"", u"m", 1);
    SetLogSinks(_null, _null, _null, _null);
    EXPECT_NE(error.mCalls.back().find(u"Assertion Failed : x % 2 == 0 && \"%ls\"\r\nm:1"), std::u16string::npos);
}

TEST(Log, FailureConventionWritesOnceWhenChannelsAreShared) {
    Captured one, two;
    SetLogSinks(CapturingSink, &one, CapturingSink, &two);
    EXPECT_FALSE(LogChannelsShared());
    LogFailure(u"[WS] failed %d", 7);
    EXPECT_EQ(one.mCalls.back(), u"[WS] failed 7");
    EXPECT_EQ(two.mCalls.back(), u"[WS] failed 7");
    SetLogSinks(CapturingSink, &one, CapturingSink, &one);
    EXPECT_TRUE(LogChannelsShared());
    LogFailure(u"[WS] again");
    LogTrace(u"[Loader] trace only");
    SetLogSinks(_null, _null, _null, _null);
    EXPECT_EQ(one.mCalls.size(), 6u); // a time stamp and a message each
    EXPECT_EQ(two.mCalls.size(), 2u);
}

// A name from a package or a server cannot clear the terminal or forge a line: the control
// characters the texts bring in are written as escapes (but the tab, which only moves along the
// line), the format's own line breaks stay.
TEST(Log, ControlCharactersInTextsAreWrittenAsEscapes) {
    Captured captured;
    SetLogSinks(CapturingSink, &captured, CapturingSink, &captured);
    LogTrace(u"[Loader] Unsafe VOB file name in header: %ls|%s|%c|%5ls", u"\x1b[2Jgame\r\nfake\x7f\x9b.so",
             "caf\xC3\xA9\x1b\xC2\x85", int(u'\t'), u"\x01");
    LogTrace(u"[FG] two\r\nlines %ls", u"\u00e9t\u00e9");
    SetLogSinks(_null, _null, _null, _null);
    ASSERT_EQ(captured.mCalls.size(), 4u);
    EXPECT_EQ(captured.mCalls[1],
              u"[Loader] Unsafe VOB file name in header: \\x1b[2Jgame\\x0d\\x0afake\\x7f\\x9b.so|caf\u00e9\\x1b\\x85|\t| \\x01");
    EXPECT_EQ(captured.mCalls[3], u"[FG] two\r\nlines \u00e9t\u00e9");
}

TEST(Log, LongMessagesAreCutAt8191Units) {
    Captured captured;
    SetLogSinks(CapturingSink, &captured, CapturingSink, &captured);
    std::u16string longText(9000, u'y');
    LogTrace(u"%ls", longText.c_str());
    SetLogSinks(_null, _null, _null, _null);
    EXPECT_EQ(captured.mCalls.back().size(), 8191u);
}

TEST(Log, WithoutASinkTheDebuggerOutputGetsThreeWrites) {
    ::testing::internal::CaptureStderr();
    LogTrace(u"[Loader] to the debugger %ls", u"\u00e9");
    std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_match(written, std::regex(R"(\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2} \[Loader\] to the debugger \xc3\xa9\r\n)")))
        << written;
}

TEST_F(LogFolder, FilesAreNamedFromFolderNameAndSuffixAndBeginWithTheMark) {
    std::u16string folder = Folder() + u"/missing/folders";
    OpenLogFiles(u"loader", folder.c_str(), u"Player");
    std::string trace = mPath + "/missing/folders/Player-loader-[Trace].log";
    std::string error = mPath + "/missing/folders/Player-loader-[Error].log";
    ASSERT_TRUE(Exists(trace));
    ASSERT_TRUE(Exists(error));
    EXPECT_EQ(ReadBytes(trace), std::string("\xFF\xFE"));
    EXPECT_FALSE(LogChannelsShared());

    LogTrace(u"[Loader] Download VOB(%d) from url: %ls", 2, u"http://host/a.vob");
    LogFailure(u"[KL] Out of memory");
    LogTrace(u"");
    AssertFailed(u"pointer != _null", u"Source/Common/Memory", 9);
    std::vector<std::string> traced = Messages(ReadLog(trace));
    ASSERT_EQ(traced.size(), 3u);
    EXPECT_EQ(traced[0], "[Loader] Download VOB(2) from url: http://host/a.vob");
    EXPECT_EQ(traced[1], "[KL] Out of memory");
    EXPECT_EQ(traced[2], "");
    std::u16string errorText = ReadLog(error);
    EXPECT_NE(errorText.find(u"[KL] Out of memory\r\n"), std::u16string::npos);
    std::u16string report = u"Build Date : " + std::u16string(BuildDateText()) +
                            u"\r\nAssertion Failed : pointer != _null\r\nSource/Common/Memory:9\r\n";
    EXPECT_EQ(errorText.substr(errorText.size() - report.size()), report);

    // Opening again truncates both files.
    OpenLogFiles(u"loader", folder.c_str(), u"Player");
    EXPECT_EQ(ReadBytes(trace), std::string("\xFF\xFE"));
    EXPECT_EQ(ReadBytes(error), std::string("\xFF\xFE"));
}

TEST_F(LogFolder, EmptySuffixFolderAndNameTakeTheDefaults) {
    OpenLogFiles(u"", Folder().c_str(), u"Player");
    EXPECT_TRUE(Exists(mPath + "/Player-[Trace].log"));
    EXPECT_TRUE(Exists(mPath + "/Player-[Error].log"));
    OpenLogFiles(u"tool", u"", u"");
    EXPECT_TRUE(Exists(mPath + "/test_platform-tool-[Trace].log"));
    EXPECT_TRUE(Exists(mPath + "/test_platform-tool-[Error].log"));
}

TEST_F(LogFolder, ReadOnlyFilesAreOverwrittenAndFailuresKeepThePreviousSink) {
    std::string trace = mPath + "/Player-loader-[Trace].log";
    { std::ofstream(trace) << "old contents"; }
    chmod(trace.c_str(), 0444);
    OpenLogFiles(u"loader", Folder().c_str(), u"Player");
    EXPECT_EQ(ReadBytes(trace), std::string("\xFF\xFE"));

    // A folder that cannot exist (a file stands in its way): the channels keep their sinks.
    { std::ofstream(mPath + "/blocker") << "x"; }
    Captured captured;
    SetLogSinks(CapturingSink, &captured, CapturingSink, &captured);
    std::u16string blocked = Folder() + u"/blocker/sub";
    OpenLogFiles(u"loader", blocked.c_str(), u"Player");
    LogTrace(u"still here");
    EXPECT_EQ(captured.mCalls.back(), u"still here");
}

// A line repeated exactly is written once; the count of its repeats follows when another line
// comes, when the file is closed, or a minute after, while the repeats go on. Each file has its
// own count.
uint32_t gFakeNow = 0;

TEST_F(LogFolder, RepeatedLinesAreWrittenOnceAndCounted) {
    SetLogClock([] { return gFakeNow; });
    OpenLogFiles(u"loader", Folder().c_str(), u"Player");
    for (int i = 0; i < 3; ++i) LogFailure(u"[WS] Web download attempt failed: %ls (HTTP %d), retry in 1 s", u"u", 404);
    LogTrace(u"[Loader] next");
    LogTrace(u"[Loader] next!");
    for (int i = 0; i < 50; ++i) {
        gFakeNow += 2000; // every 2 s for 100 s
        LogTrace(u"[Loader] Voa not correct, try backup url: %ls", u"u");
    }
    CloseLogFiles();
    SetLogClock(nullptr);

    std::vector<std::string> traced = Messages(ReadLog(mPath + "/Player-loader-[Trace].log"));
    const std::vector<std::string> expected = {
        "[WS] Web download attempt failed: u (HTTP 404), retry in 1 s",
        "[WS] Web download attempt failed: u (HTTP 404), retry in 1 s (repeated 2 times)",
        "[Loader] next",
        "[Loader] next!",
        "[Loader] Voa not correct, try backup url: u",
        "[Loader] Voa not correct, try backup url: u (repeated 30 times)", // at 60 s
        "[Loader] Voa not correct, try backup url: u (repeated 19 times)", // at the close
    };
    EXPECT_EQ(traced, expected);
    std::vector<std::string> errors = Messages(ReadLog(mPath + "/Player-loader-[Error].log"));
    const std::vector<std::string> expectedErrors(expected.begin(), expected.begin() + 2);
    EXPECT_EQ(errors, expectedErrors);
}

TEST_F(LogFolder, DebugSwitchIsCaseSensitive) {
    if (IsDebuggerAttached()) GTEST_SKIP() << "a debugger keeps the channels on its output";
    setenv("[VEXAL-DEBUG]", "yes", 1);
    SetupLogChannels();
    EXPECT_TRUE(Exists(mPath + "/test_platform-loader-[Trace].log"));
    EXPECT_TRUE(Exists(mPath + "/test_platform-loader-[Error].log"));
    EXPECT_FALSE(LogChannelsShared());
}

TEST_F(LogFolder, DebugSwitchYesRoutesBothChannelsToTheConsole) {
    if (IsDebuggerAttached()) GTEST_SKIP() << "a debugger keeps the channels on its output";
    setenv("[VEXAL-DEBUG]", "YES", 1);
    SetupLogChannels();
    EXPECT_FALSE(Exists(mPath + "/test_platform-loader-[Trace].log"));
    EXPECT_TRUE(LogChannelsShared());
    ::testing::internal::CaptureStdout();
    LogFailure(u"[WS] once on the console");
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(printed, std::regex(R"(\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2} \[WS\] once on the console\n)")))
        << printed;
}

// The console sink converts to the user's character set without touching the process's locale,
// which other threads read while they convert text.
TEST(Log, ConsoleSinkConvertsWithoutChangingTheProcessLocale) {
    ASSERT_NE(setlocale(LC_CTYPE, "C"), nullptr);
    const char* previous = getenv("LC_ALL");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("LC_ALL", "C.UTF-8", 1);
    ::testing::internal::CaptureStdout();
    ConsoleLogSink(u"caf\u00e9 \u65e5\u672c", nullptr, 1);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    if (previous != nullptr) setenv("LC_ALL", saved.c_str(), 1);
    else unsetenv("LC_ALL");
    EXPECT_EQ(printed, "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac\n");
    EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
}
