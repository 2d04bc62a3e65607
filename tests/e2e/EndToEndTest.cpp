// A whole loading run as a player's machine makes it: vexal-host with the loader library, a
// package of the demo game module and seven data files on nginx, server data naming the
// package, ticks logged by the server. Checked by the files in the cache folder and the logs.
// The same run on Windows, under Wine: the Windows host, library and demo module, nginx on the
// Linux side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Source/Common/PackageFormat.h"
#include "support/ChildProcess.h"
#include "support/NginxServer.h"
#include "support/ScratchFolder.h"
#include "support/TestEnvironment.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// Deterministic file contents: text, noise that does not compress, or a mix of both.
std::string MakeContent(size_t size, int kind, uint32_t seed) {
    std::string out;
    out.reserve(size);
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bool text = kind == 0 || (kind == 2 && (out.size() / 4096) % 2 == 0);
        if (text) out += "entity " + std::to_string(x % 977) + " at " + std::to_string(x % 31) + "\n";
        else out.push_back(char(x >> 11));
    }
    out.resize(size);
    return out;
}

struct DataFile {
    std::string mName; // as written into the header, relative to the cache folder
    size_t mSize;
    int mKind;
    bool mLzma;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mScratch.IsValid());
        if (!std::filesystem::exists(VEXAL_LOADER_LIBRARY)) GTEST_SKIP() << "the loader library is not built";
        for (const char* folder : {"www", "source", "source/data", "cache", "home", "nginx"})
            ASSERT_TRUE(std::filesystem::create_directory(mScratch.Native(folder))) << folder;
        std::string error;
        ASSERT_TRUE(mServer.Start(mScratch.Native("www"), mScratch.Native("nginx"), error)) << error;
    }

    // A headless run of the host until the hand-off; its output with the lines' ends as on Linux.
    std::string Host(const std::vector<std::string>& parameters) {
        SetTestEnvironment(kProfileVariable, mScratch.Native("home").c_str());
        SetTestEnvironment("[VEXAL-DEBUG]", "YES");
        SetTestEnvironment("TSAN_OPTIONS", "halt_on_error=1 suppressions=" VEXAL_E2E_TSAN);
        std::vector<std::string> words = {VEXAL_HOST, "--headless", "--until-ready", "--seconds", "60", "--cwd",
                                          mScratch.Native("cache")};
        words.insert(words.end(), parameters.begin(), parameters.end());
        CommandRun result = RunCommand(CommandLineOf(words));
        result.mOutput.erase(std::remove(result.mOutput.begin(), result.mOutput.end(), '\r'), result.mOutput.end());
        EXPECT_EQ(result.mStatus, 0) << result.mOutput;
        return result.mOutput;
    }

    ScratchFolder mScratch;
    NginxServer mServer;
};

TEST_F(EndToEnd, ServerDataToHandOffThenAWarmRun) {
    const std::vector<DataFile> files = {
        {"data/tiny.txt", 17, 0, false},
        {"data/empty.bin", 0, 1, true},
        {"data/block64k.bin", 65536, 1, true},
        {"data/text.txt", 300000, 0, false},
        {"data/noise.bin", 1 << 20, 1, true},
        {"data/mixed.bin", 2621440, 2, false},
        {"sound.dat", 700001, 2, true},
    };
    // The package: the demo module first, then the data files, each with its method.
    const std::string module = VEXAL_DEMO_MODULE_NAME;
    std::vector<std::string> build = {VEXAL_PACK, "build", "--out", mScratch.Native("www/demo.vpk"), "--name", "Demo",
                                      "--cache-name", "demo", "--zlib", std::string(VEXAL_DEMO_MODULE "=") + module};
    std::map<std::string, std::string> expected;
    expected[module] = ReadNativeFile(VEXAL_DEMO_MODULE);
    uint32_t seed = 1;
    for (const DataFile& file : files) {
        std::string content = MakeContent(file.mSize, file.mKind, seed++);
        ASSERT_TRUE(WriteNativeFile(mScratch.Native("source/" + file.mName), content));
        expected[file.mName] = content;
        build.push_back(file.mLzma ? "--lzma" : "--zlib");
        build.push_back(mScratch.Native("source/" + file.mName) + "=" + file.mName);
    }
    CommandRun built = RunCommand(CommandLineOf(build));
    ASSERT_EQ(built.mStatus, 0) << built.mOutput;
    std::string package = ReadNativeFile(mScratch.Native("www/demo.vpk"));
    PackageHeader header;
    ASSERT_TRUE(ReadPackageHeader(reinterpret_cast<const uint8_t*>(package.data()), 1132, header));

    const std::string packageUrl = mServer.Url("/demo.vpk");
    ASSERT_TRUE(WriteNativeFile(mScratch.Native("www/serverdata.txt"),
                                "{\"version\":1,\"default\":3,\"servers\":{\"2\":[\"Old\"],\"3\":[\"Demo\",\"eu\",1,2,"
                                "\"x\",\"" +
                                    packageUrl + "\",8000,\"game.example.net\"]}}\n"));

    const std::string tickUrl = mServer.Url("/tick?game=demo");
    std::string output = Host({"tickurl=" + tickUrl, "tickinterval=500", "appversion=1.2.3",
                               "serverdataurl=" + mServer.Url("/serverdata.txt")});
    EXPECT_NE(output.find("ready after "), std::string::npos) << output;
    EXPECT_NE(output.find("demo: handed over"), std::string::npos) << output;
    EXPECT_NE(output.find("demo: package " + packageUrl + "\n"), std::string::npos);
    EXPECT_NE(output.find("demo: header name Demo cache demo\n"), std::string::npos);
    EXPECT_NE(output.find("demo: config host=game.example.net:8000\n"), std::string::npos) << output;
    std::smatch match;
    EXPECT_TRUE(std::regex_search(output, match, std::regex("demo: config tickurl=" + std::regex_replace(tickUrl, std::regex(R"([?.])"), R"(\$&)") + "&s=[^&]*_[0-9]{14}&cv=[^&]+&sg=4&av=1\\.2\\.3\n")))
        << output;
    EXPECT_NE(output.find("demo: config tickinterval=500\n"), std::string::npos);

    // Every module file in the cache folder, byte for byte, and nothing fetched twice.
    for (const auto& [name, content] : expected) {
        std::string cached = ReadNativeFile(mScratch.Native("cache/" + name));
        EXPECT_EQ(cached.size(), content.size()) << name;
        EXPECT_TRUE(cached == content) << name << " differs";
    }

    mServer.Stop();
    std::vector<std::string> access = Lines(ReadNativeFile(mServer.AccessLogPath()));
    int blockRequests = 0, dataRequests = 0;
    for (const std::string& line : access) {
        if (line.find("GET /demo.vpk ") != std::string::npos && line.find("\" 206 ") != std::string::npos) ++blockRequests;
        if (line.find("GET /serverdata.txt ") != std::string::npos) ++dataRequests;
    }
    EXPECT_EQ(dataRequests, 1);
    EXPECT_EQ(blockRequests, 9) << "the header and eight blocks, each once";

    // Ticks: the first ping in state 0, one per state change 1..6, periodic ones before the
    // hand-off and one final tick after it. All carry the same run identity.
    std::vector<std::string> ticks;
    for (const std::string& line : Lines(ReadNativeFile(mServer.TickLogPath()))) {
        size_t start = line.find("\"GET ");
        size_t end = line.find(" HTTP/");
        if (start != std::string::npos && end != std::string::npos) ticks.push_back(line.substr(start + 5, end - start - 5));
    }
    std::map<int, int> stateTicks;
    int periodic = 0, finals = 0, first = 0;
    std::set<std::string> identities;
    const std::regex identity("^/tick\\?game=demo&s=([^&]*_[0-9]{14})&cv=([^&]+)&sg=(.*)$");
    for (const std::string& tick : ticks) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(tick, parts, identity)) << tick;
        identities.insert(parts[1].str() + " " + parts[2].str());
        std::string rest = parts[3].str();
        std::smatch tail;
        if (rest == "0") ++first;
        else if (std::regex_match(rest, tail, std::regex("([1-6])&av=1\\.2\\.3"))) ++stateTicks[std::stoi(tail[1])];
        else if (std::regex_match(rest, std::regex("[0-5]&pg=[01]\\.[0-9]{6}&av=1\\.2\\.3&m=0&t=[0-9]+"))) ++periodic;
        else if (std::regex_match(rest, std::regex("6&av=1\\.2\\.3&m=0&t=[0-9]+&f=1"))) ++finals;
        else ADD_FAILURE() << "unexpected tick " << tick;
    }
    EXPECT_EQ(first, 1);
    for (int state = 1; state <= 6; ++state) EXPECT_EQ(stateTicks[state], 1) << "state " << state;
    EXPECT_GE(periodic, 2) << "1.5 s in state 5 at a 500 ms interval";
    EXPECT_EQ(finals, 1);
    EXPECT_EQ(identities.size(), 1u);

    // A second run on the intact cache fetches the header and nothing else.
    std::string error;
    ASSERT_TRUE(mServer.Start(mScratch.Native("www"), mScratch.Native("nginx2"), error)) << error;
    std::string warm = Host({"voaurl=" + mServer.Url("/demo.vpk")});
    EXPECT_NE(warm.find("demo: handed over"), std::string::npos) << warm;
    mServer.Stop();
    // The header's answer names the package's length, so no size probe follows it: the whole run
    // costs nginx the header's bytes and its answer headers.
    int warmRequests = 0;
    long warmBytes = 0;
    for (const std::string& line : Lines(ReadNativeFile(mServer.AccessLogPath()))) {
        if (line.find("GET /demo.vpk ") == std::string::npos) continue;
        ++warmRequests;
        warmBytes += std::stol(line.substr(line.rfind(' ') + 1));
        EXPECT_NE(line.find("\" 206 "), std::string::npos) << line;
    }
    EXPECT_EQ(warmRequests, 1) << "only the header";
    EXPECT_LE(warmBytes, 1132 + 400) << "the header and its answer headers";
    for (const auto& [name, content] : expected) EXPECT_TRUE(ReadNativeFile(mScratch.Native("cache/" + name)) == content) << name;
}

} // namespace
