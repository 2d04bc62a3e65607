// vexal-pack digest | pack | unpack, run as a program: outputs, exit statuses and messages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs vexal-pack with the arguments (each quoted for the shell).
Outcome RunPack(const ScratchFolder& scratch, const std::vector<std::string>& arguments) {
    std::string command = std::string("'") + VEXAL_BINARY_DIR + "/bin/vexal-pack'";
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    command += " 2>'" + scratch.Native("stderr.txt") + "'";
    CommandRun ran = RunCommand(command, ErrorOutput::Separate);
    return Outcome{ran.mStatus, ran.mOutput, ReadNativeFile(scratch.Native("stderr.txt"))};
}

class PackTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mScratch.IsValid());
        for (int i = 0; i < 2000; ++i)
            mPlain += "line " + std::to_string(i % 50) + " of a module file\n";
        ASSERT_TRUE(WriteNativeFile(In(), mPlain));
    }
    std::string In() const { return mScratch.Native("in.bin"); }
    std::string Path(const std::string& name) const { return mScratch.Native(name); }

    ScratchFolder mScratch;
    std::string mPlain;
};

TEST_F(PackTool, DigestPrintsOneLinePerFile) {
    ASSERT_TRUE(WriteNativeFile(Path("abc.txt"), "abc"));
    ASSERT_TRUE(WriteNativeFile(Path("a64.txt"), std::string(64, 'a')));
    Outcome outcome = RunPack(mScratch, {"digest", Path("abc.txt"), Path("a64.txt")});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "727fe1287d3f96d6b04fd23c98500190  " + Path("abc.txt") + "\n" +
                               "0033e32569cade33125cd96289d4ff56  " + Path("a64.txt") + "\n");

    outcome = RunPack(mScratch, {"digest", Path("missing.txt"), Path("abc.txt")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "727fe1287d3f96d6b04fd23c98500190  " + Path("abc.txt") + "\n");
    EXPECT_NE(outcome.err.find("missing.txt"), std::string::npos);
}

TEST_F(PackTool, PackThenUnpackGivesTheFileBack) {
    for (const char* method : {"--zlib", "--lzma"}) {
        Outcome outcome = RunPack(mScratch, {"pack", method, "--level", "9", In(), Path("block")});
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        const std::string block = ReadNativeFile(Path("block"));
        ASSERT_GT(block.size(), 20u);
        EXPECT_LT(block.size(), mPlain.size());
        EXPECT_EQ(block.substr(0, 8), "\xF7\xF4\xE4\xC8\xCA\xD7\xD5\xC2");
        EXPECT_EQ(block[15], std::string(method) == "--lzma" ? 0 : 1);

        outcome = RunPack(mScratch, {"unpack", Path("block"), Path("out")});
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(ReadNativeFile(Path("out")), mPlain) << method;
    }
    // A plain file is copied unchanged.
    Outcome outcome = RunPack(mScratch, {"unpack", In(), Path("copy")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(ReadNativeFile(Path("copy")), mPlain);
}

TEST_F(PackTool, UnpackFailureLogsAndExitsWithOne) {
    ASSERT_EQ(RunPack(mScratch, {"pack", "--zlib", In(), Path("block")}).status, 0);
    std::string block = ReadNativeFile(Path("block"));
    ASSERT_TRUE(WriteNativeFile(Path("cut"), block.substr(0, block.size() / 2)));
    Outcome outcome = RunPack(mScratch, {"unpack", Path("cut"), Path("out")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("[FG] Decompress(Zip) Error Code : -3"), std::string::npos) << outcome.err;
    EXPECT_TRUE(ReadNativeFile(Path("out")).empty());

    outcome = RunPack(mScratch, {"unpack", Path("absent"), Path("out")});
    EXPECT_EQ(outcome.status, 1);
}

TEST_F(PackTool, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"shrink", In()},
        {"digest"},
        {"pack", In(), Path("x")},
        {"pack", "--zlib", "--lzma", In(), Path("x")},
        {"pack", "--lzma", "--level", "12", In(), Path("x")},
        {"pack", "--zlib", In()},
        {"unpack", In()},
        {"unpack", In(), Path("x"), Path("y")},
    };
    for (const auto& arguments : wrong) {
        Outcome outcome = RunPack(mScratch, arguments);
        EXPECT_EQ(outcome.status, 2) << (arguments.empty() ? "" : arguments[0]);
        EXPECT_NE(outcome.err.find("usage: vexal-pack"), std::string::npos) << outcome.err;
    }
}

// Asking a tool how it is used is no error: every tool prints its usage on standard output and
// exits 0, and none takes "--help" for a file or folder to work on.
TEST(ToolHelp, EveryToolAnswersHelpWithStatusZero) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.IsValid());
    const std::string bin = std::string(VEXAL_BINARY_DIR) + "/bin/";
    for (const std::string& tool : {bin + "vexal-host", bin + "vexal-pack", bin + "vexal-screen", bin + "vexal-regex",
                                    bin + "vexal-assetgen", bin + "vexal-swfgen", std::string(VEXAL_RUN_DEMO)}) {
        for (const char* option : {"--help", "-h"}) {
            CommandRun run = RunCommand("cd '" + scratch.Native("") + "' && '" + tool + "' " + option + " 2>/dev/null",
                                        ErrorOutput::Separate);
            EXPECT_EQ(run.mStatus, 0) << tool << " " << option;
            EXPECT_NE(run.mOutput.find("usage: "), std::string::npos) << tool << " " << option << ": " << run.mOutput;
        }
    }
    EXPECT_NE(access(scratch.Native("--help").c_str(), F_OK), 0) << "a tool took --help for a folder";
}

// Each installed tool's manual page is written by hand beside its usage text; an option the
// usage offers and the page leaves out is a page gone stale. The page also states the exit
// status and is clean roff (groff finds nothing to warn about).
TEST(ToolHelp, ManualPagesNameEveryOptionOfTheUsage) {
    const std::string bin = std::string(VEXAL_BINARY_DIR) + "/bin/";
    const std::string runDemo = VEXAL_RUN_DEMO;
    const std::string tools = runDemo.substr(0, runDemo.size() - std::string("demo/run-demo").size());
    const std::regex option(R"((^|[\s\[(|,])(--?[A-Za-z][A-Za-z0-9-]*))");
    for (const std::string tool : {"host", "pack", "screen", "regex", "ticks"}) {
        const std::string page = tools + tool + "/vexal-" + tool + ".1";
        std::string text = ReadNativeFile(page);
        ASSERT_FALSE(text.empty()) << page;
        // The roff text as a reader sees it: no font changes, plain hyphens and backslashes.
        text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
        text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
        EXPECT_NE(text.find(".SH EXIT STATUS"), std::string::npos) << page;
        CommandRun usage = RunCommand("'" + bin + "vexal-" + tool + "' --help 2>/dev/null", ErrorOutput::Separate);
        ASSERT_EQ(usage.mStatus, 0) << tool;
        std::set<std::string> offered;
        for (std::sregex_iterator it(usage.mOutput.begin(), usage.mOutput.end(), option), end; it != end; ++it)
            offered.insert((*it)[2]);
        EXPECT_GE(offered.size(), 3u) << tool << ": " << usage.mOutput;
        for (const std::string& name : offered) {
            const std::regex named("(^|[^A-Za-z0-9-])" + name + "([^A-Za-z0-9-]|$)");
            EXPECT_TRUE(std::regex_search(text, named)) << page << " does not name " << name;
        }
        CommandRun lint = RunCommand("groff -man -ww -z '" + page + "'");
        EXPECT_EQ(lint.mStatus, 0) << lint.mOutput;
        EXPECT_EQ(lint.mOutput, "") << page;
    }
}

} // namespace
