// The demo run end to end: a cold run that downloads the package and hands the window to the
// game, a warm run that fetches nothing but the header, an update rebuilt from a patch, and
// screenshots that show something.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace {

const std::string kWork = std::string(VEXAL_BINARY_DIR) + "/demo-check";

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// Package requests of one run from the demo's access log: "<msec> <status> <bytes> GET <uri> "<range>"".
struct PackageRequests {
    int mHeader = 0;
    int mBlocks = 0;
    long mBlockBytes = 0;
    int mDelta = 0; // ranges of the package's delta file
};

PackageRequests CountPackageRequests(const std::string& logPath) {
    PackageRequests counts;
    for (const std::string& line : Lines(ReadFile(logPath))) {
        std::istringstream fields(line);
        std::string msec, status, bytes, method, uri, range;
        fields >> msec >> status >> bytes >> method >> uri >> range;
        if (uri.size() > 10 && uri.compare(uri.size() - 10, 10, ".vpk.delta") == 0 && status == "206") {
            ++counts.mDelta;
            continue;
        }
        if (uri.size() < 4 || uri.compare(uri.size() - 4, 4, ".vpk") != 0 || status != "206") continue;
        if (range == "\"bytes=0-1131\"") {
            ++counts.mHeader;
        } else {
            ++counts.mBlocks;
            counts.mBlockBytes += std::stol(bytes);
        }
    }
    return counts;
}

// How much of a screenshot differs from its most common colour (0 for a blank picture).
double ShareOfDetail(const std::string& path, int& width, int& height) {
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    width = height = 0;
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return 0.0;
    }
    width = cairo_image_surface_get_width(image);
    height = cairo_image_surface_get_height(image);
    const uint8_t* data = cairo_image_surface_get_data(image);
    int stride = cairo_image_surface_get_stride(image);
    std::map<uint32_t, long> counts;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ++counts[reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xFFFFFF];
    long common = 0;
    for (const auto& entry : counts) common = std::max(common, entry.second);
    cairo_surface_destroy(image);
    long all = long(width) * height;
    return all == 0 ? 0.0 : double(all - common) / double(all);
}

TEST(Demo, ColdRunHandsOverWarmRunFetchesNoBlockScreenshotsShowTheRun) {
    if (access((std::string(VEXAL_BINARY_DIR) + "/bin/Vexal3DLoader-Flash.so").c_str(), R_OK) != 0)
        GTEST_SKIP() << "the loader library is not built";
    // A new folder each time: the demo builds everything in it from nothing.
    std::filesystem::remove_all(kWork);
    // The demo module's cairo caches and lock order at display close are not the host's doing.
    CommandRun run = RunCommand("env LSAN_OPTIONS=suppressions='" VEXAL_DEMO_LSAN "' TSAN_OPTIONS='halt_on_error=1 "
                                "suppressions=" VEXAL_DEMO_TSAN "' '" VEXAL_RUN_DEMO "' '" VEXAL_BINARY_DIR
                                "' --work '" +
                                kWork + "' </dev/null");
    ASSERT_EQ(run.mStatus, 0) << run.mOutput;
    EXPECT_NE(run.mOutput.find("cache hit: all 5 module files were intact, no block was fetched"), std::string::npos)
        << run.mOutput;
    // Both runs held the package to the demo's publisher key and accepted its release 1.
    EXPECT_NE(run.mOutput.find("signing the demo package"), std::string::npos) << run.mOutput;
    size_t accepted = 0;
    for (size_t at = run.mOutput.find("signature accepted: release 1, key 1 ("); at != std::string::npos;
         at = run.mOutput.find("signature accepted: release 1, key 1 (", at + 1))
        ++accepted;
    EXPECT_EQ(accepted, 2u) << run.mOutput;
    // The summary ends with the funnel of both runs read from nginx's tick logs.
    EXPECT_NE(run.mOutput.find("app version 1.0.0: 2 runs, 2 handed over, 0 lost"), std::string::npos) << run.mOutput;

    // The game module saw the hand-off in both runs, and the loader ticked state 6 in both.
    for (const char* name : {"run1", "run2"}) {
        std::string host = ReadFile(kWork + "/logs/" + name + "-host.log");
        EXPECT_NE(host.find("demo: handed over"), std::string::npos) << name << ":\n"
                                                                     << host;
        EXPECT_NE(host.find("ready after "), std::string::npos) << name;
        std::string ticks = ReadFile(kWork + "/logs/" + name + "-tick.log");
        EXPECT_NE(ticks.find("&sg=6&av=1.0.0\n"), std::string::npos) << name << ":\n"
                                                                     << ticks;
        EXPECT_NE(ticks.find("&f=1\n"), std::string::npos) << name;
    }

    // The cold run fetched the header and the five module files' blocks; the warm one only the header.
    PackageRequests cold = CountPackageRequests(kWork + "/logs/run1-access.log");
    EXPECT_EQ(cold.mHeader, 1);
    EXPECT_EQ(cold.mBlocks, 5);
    EXPECT_GT(cold.mBlockBytes, 20L << 20);
    PackageRequests warm = CountPackageRequests(kWork + "/logs/run2-access.log");
    EXPECT_EQ(warm.mHeader, 1);
    EXPECT_EQ(warm.mBlocks, 0);
    EXPECT_EQ(warm.mDelta, 0);
    // The third run, after a release that changed the world data, rebuilt that file from its
    // patch: the delta file's preamble, records and patch, and no block at all.
    PackageRequests update = CountPackageRequests(kWork + "/logs/run3-access.log");
    EXPECT_EQ(update.mHeader, 1);
    EXPECT_EQ(update.mBlocks, 0);
    EXPECT_EQ(update.mDelta, 3);
    std::smatch patched;
    ASSERT_TRUE(std::regex_search(run.mOutput, patched,
                                  std::regex("\\n  patched: VOB\\(1\\) ([0-9]+) bytes instead of a block of ([0-9]+) ")))
        << run.mOutput;
    EXPECT_LT(std::stol(patched[1]) * 10, std::stol(patched[2])) << patched[0];

    // The loading screen at two points, the game after the hand-off, the game of the warm run.
    for (const char* shot : {"loading-30.png", "loading-80.png", "game.png", "warm-game.png"}) {
        int width = 0, height = 0;
        double detail = ShareOfDetail(kWork + "/shots/" + shot, width, height);
        EXPECT_EQ(width, 960) << shot;
        EXPECT_EQ(height, 540) << shot;
        EXPECT_GT(detail, 0.01) << shot << " is blank";
    }
    EXPECT_NE(ReadFile(kWork + "/shots/loading-30.png"), ReadFile(kWork + "/shots/loading-80.png"));
    EXPECT_NE(ReadFile(kWork + "/shots/loading-80.png"), ReadFile(kWork + "/shots/game.png"));
}

// The work folder is emptied at the start: one holding files the demo did not make (no marker) is
// refused before anything in it is touched.
TEST(Demo, RefusesToEmptyAFolderItDidNotMake) {
    const std::string folder = std::string(VEXAL_BINARY_DIR) + "/demo-foreign";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder + "/notes");
    std::ofstream(folder + "/notes/letter.txt") << "keep me";
    CommandRun run = RunCommand("'" VEXAL_RUN_DEMO "' '" VEXAL_BINARY_DIR "' --work '" + folder + "' </dev/null");
    EXPECT_EQ(run.mStatus, 1) << run.mOutput;
    EXPECT_NE(run.mOutput.find("was not made by the demo"), std::string::npos) << run.mOutput;
    EXPECT_EQ(ReadFile(folder + "/notes/letter.txt"), "keep me");
    std::filesystem::remove_all(folder);
}

} // namespace
