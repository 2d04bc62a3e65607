// Whole runs of vexal-host against the recording stand-in for the loader library.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

// The demo module drawing in a window, with what sanitizers must not count against the host.
const char* const kWindowedDemo = "VEXAL_TEST_MODULE='" VEXAL_DEMO_MODULE "' LSAN_OPTIONS=suppressions='" VEXAL_DEMO_LSAN
                                  "' TSAN_OPTIONS='halt_on_error=1 suppressions=" VEXAL_DEMO_TSAN "'";

class HostRun : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vexal-host-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = pattern;
        mRecord = mFolder + "/record.txt";
    }
    void TearDown() override { RunCommand("rm -rf '" + mFolder + "'"); }

    CommandRun Host(const std::string& arguments, const std::string& environment = "") {
        return RunCommand("env VEXAL_TEST_RECORD='" + mRecord + "' " + environment + " '" VEXAL_HOST_PROGRAM
                          "' --library '" VEXAL_LOADER_DOUBLE "' " + arguments);
    }

    std::string mFolder;
    std::string mRecord;
};

TEST_F(HostRun, HeadlessRunPassesParametersInOrderAndDeletesAtTheEnd) {
    CommandRun run = Host("--headless --seconds 0.3 --run-mode 7 --cwd '" + mFolder +
                         "/cache' voaurl=http://h/p.vpk?x=1 delay= TickUrl=a=b caf\xC3\xA9=\xE2\x82\xAC");
    ASSERT_EQ(run.mStatus, 0) << run.mOutput;
    std::vector<std::string> lines = ReadLines(mRecord);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "create null 7");
    EXPECT_EQ(lines[1], "setup voaurl=http://h/p.vpk?x=1");
    EXPECT_EQ(lines[2], "setup delay=");
    EXPECT_EQ(lines[3], "setup TickUrl=a=b");
    EXPECT_EQ(lines[4], "setup caf\\u00e9=\\u20ac");
    EXPECT_EQ(lines[5], "start");
    EXPECT_EQ(lines.back(), "delete same");
    // Updates and renders alternate; their elapsed times add up to the run's length.
    int updates = 0, renders = 0;
    long total = 0;
    for (size_t i = 6; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind("update ", 0) == 0) {
            ++updates;
            total += std::stol(lines[i].substr(7));
        } else if (lines[i] == "render") {
            ++renders;
        } else {
            ADD_FAILURE() << "unexpected call " << lines[i];
        }
    }
    EXPECT_GT(updates, 3);
    EXPECT_EQ(updates, renders);
    EXPECT_GE(total, 250);
    EXPECT_LE(total, 2000);
    EXPECT_NE(run.mOutput.find("longest update "), std::string::npos);
    // --cwd made the folder the run's current directory.
    EXPECT_EQ(access((mFolder + "/cache").c_str(), F_OK), 0);
}

TEST_F(HostRun, BadCommandLinesAndMissingLibraries) {
    CommandRun usage = Host("--size 10");
    EXPECT_EQ(usage.mStatus, 2);
    EXPECT_NE(usage.mOutput.find("usage: vexal-host"), std::string::npos);
    CommandRun missing = RunCommand("'" VEXAL_HOST_PROGRAM "' --headless --library /nonexistent/loader.so --seconds 0");
    EXPECT_EQ(missing.mStatus, 1);
    EXPECT_NE(missing.mOutput.find("cannot load"), std::string::npos);
    // A library without the exports is refused too.
    CommandRun wrong = RunCommand("'" VEXAL_HOST_PROGRAM "' --headless --library '" VEXAL_DEMO_MODULE "' --seconds 0");
    EXPECT_EQ(wrong.mStatus, 1);
    EXPECT_NE(wrong.mOutput.find("does not export _VexalCreate"), std::string::npos);
}

TEST_F(HostRun, HeadlessDemoModuleLoadsAndDrawsNothing) {
    CommandRun run = Host("--headless --until-ready --seconds 10", "VEXAL_TEST_MODULE='" VEXAL_DEMO_MODULE "'");
    ASSERT_EQ(run.mStatus, 0) << run.mOutput;
    EXPECT_NE(run.mOutput.find("demo: create window none reserved 0"), std::string::npos) << run.mOutput;
    EXPECT_NE(run.mOutput.find("demo: config a=1\ndemo: config b=2\n"), std::string::npos);
    EXPECT_NE(run.mOutput.find("demo: ready"), std::string::npos);
    EXPECT_NE(run.mOutput.find("ready after "), std::string::npos);
    EXPECT_NE(run.mOutput.find("demo: handed over"), std::string::npos);
    EXPECT_NE(run.mOutput.find("demo: delete"), std::string::npos);
}

TEST_F(HostRun, WindowShowsTheDemoSceneInScreenshots) {
    if (getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    std::string shot = mFolder + "/shot.png";
    CommandRun run = Host("--size 320x200 --seconds 2.5 --screenshot '" + shot + "@2.2'",
                         kWindowedDemo);
    ASSERT_EQ(run.mStatus, 0) << run.mOutput;
    EXPECT_NE(run.mOutput.find("demo: create window yes"), std::string::npos) << run.mOutput;
    cairo_surface_t* image = cairo_image_surface_create_from_png(shot.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << run.mOutput;
    EXPECT_EQ(cairo_image_surface_get_width(image), 320);
    EXPECT_EQ(cairo_image_surface_get_height(image), 200);
    // The scene is drawn: the picture is not one flat colour.
    const uint8_t* data = cairo_image_surface_get_data(image);
    int stride = cairo_image_surface_get_stride(image);
    uint32_t first = *reinterpret_cast<const uint32_t*>(data);
    int differing = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x)
            if (reinterpret_cast<const uint32_t*>(data + y * stride)[x] != first) ++differing;
    EXPECT_GT(differing, 320 * 200 / 4);
    cairo_surface_destroy(image);
}

TEST_F(HostRun, ScreenshotsTiedToTheProgressHoldTheEndOfTheRun) {
    if (getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    std::string half = mFolder + "/half.png", after = mFolder + "/after.png";
    CommandRun run = Host("--size 160x100 --until-ready --seconds 20 --screenshot '" + half + "@70%' --screenshot '" +
                             after + "@ready+1.2'",
                         kWindowedDemo);
    ASSERT_EQ(run.mStatus, 0) << run.mOutput;
    EXPECT_EQ(access(half.c_str(), R_OK), 0) << run.mOutput;
    EXPECT_EQ(access(after.c_str(), R_OK), 0) << run.mOutput;
    // The half-way picture comes before the progress reaches 1, the other one after it.
    size_t halfAt = run.mOutput.find("screenshot " + half), readyAt = run.mOutput.find("ready after ");
    size_t afterAt = run.mOutput.find("screenshot " + after);
    ASSERT_NE(readyAt, std::string::npos);
    EXPECT_LT(halfAt, readyAt);
    EXPECT_GT(afterAt, readyAt);
    EXPECT_NE(afterAt, std::string::npos);
}

} // namespace
