// vexal-regex run as people run it: arguments, standard input or a file, output and exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/ChildProcess.h"

namespace {

struct ToolRun {
    int status;
    std::string output;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the tool with the arguments (already quoted) and the text on standard input.
ToolRun Tool(const std::string& arguments, const std::string& input) {
    std::string command = "printf '%s' " + Quote(input) + " | " VEXAL_BINARY_DIR "/bin/vexal-regex " + arguments +
                          " 2>/dev/null";
    CommandRun ran = RunCommand(command, ErrorOutput::Separate);
    return ToolRun{ran.mStatus, ran.mOutput};
}

} // namespace

TEST(RegexTool, PrintsGroupSpansAndExitStatus) {
    ToolRun first = Tool(Quote("(a)|b"), "xb");
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.output, "1,2 -1,-1\n");
    ToolRun none = Tool(Quote("q"), "abc");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, "");
    ToolRun all = Tool("-a " + Quote("a*"), "bab");
    EXPECT_EQ(all.output, "0,0\n1,2\n2,2\n3,3\n");
    ToolRun server = Tool(Quote("\"default\":\\d+"), "{\"default\":12}");
    EXPECT_EQ(server.output, "1,13\n");
}

TEST(RegexTool, FlagsAndUtf16Positions) {
    EXPECT_EQ(Tool("-i " + Quote("[a-c]+"), "xBCa").output, "1,4\n");
    EXPECT_EQ(Tool("-s " + Quote("a.b"), "a\nb").output, "0,3\n");
    EXPECT_EQ(Tool("-m " + Quote("^b"), "a\nb").output, "2,3\n");
    EXPECT_EQ(Tool("-x " + Quote("a b # c"), "ab").output, "0,2\n");
    EXPECT_EQ(Tool("-r -a " + Quote("\\d+"), "ab12cd34").output, "6,8\n2,4\n");
    EXPECT_EQ(Tool("-g -a " + Quote("\\Ga"), "aab").output, "0,1\n1,2\n");
    EXPECT_EQ(Tool("-ia " + Quote("b"), "bB").output, "0,1\n1,2\n"); // letters may be combined
    // Positions count UTF-16 units: "é" is one unit, "😀" two.
    EXPECT_EQ(Tool(Quote("x"), "\xC3\xA9\xF0\x9F\x98\x80x").output, "3,4\n");
    EXPECT_EQ(Tool(Quote("\\u00e9"), "a\xC3\xA9").output, "1,2\n");
    EXPECT_EQ(Tool("-- " + Quote("-a"), "x-a").output, "1,3\n"); // a pattern starting with '-'
}

TEST(RegexTool, ReadsAFileAndReportsUsageErrors) {
    std::string path = testing::TempDir() + "vexal-regex-tool-test.txt";
    {
        std::ofstream file(path, std::ios::binary);
        file << "{\"12\":[\"a\",\"b\"],\n\"default\":12}";
    }
    EXPECT_EQ(Tool(Quote("\"12\":\\[.+?\\]") + " " + Quote(path), "").output, "1,15\n");
    std::remove(path.c_str());
    EXPECT_EQ(Tool("", "").status, 2);                              // no pattern
    EXPECT_EQ(Tool("-y " + Quote("a"), "a").status, 2);             // unknown option
    EXPECT_EQ(Tool(Quote("a") + " " + Quote(path), "a").status, 2); // missing file
    EXPECT_EQ(Tool(Quote("a") + " x y", "a").status, 2);            // too many arguments
}
