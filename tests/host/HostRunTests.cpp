// Whole runs of vexal-host against the recording stand-in for the loader library.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Source/Common/Buffer.h"
#include "Source/Common/PackageBuilder.h"
#include "support/ChildProcess.h"
#include "support/HttpTestServer.h"

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
        return RunCommand("env VEXAL_TEST_RECORD='" + mRecord + "' " + environment + " '" VEXAL_HOST_PROGRAM "' --library '" VEXAL_LOADER_DOUBLE "' " + arguments);
    }

    std::string mFolder;
    std::string mRecord;
};

TEST_F(HostRun, HeadlessRunPassesParametersInOrderAndDeletesAtTheEnd) {
    CommandRun run = Host("--headless --seconds 0.3 --run-mode 7 --cwd '" + mFolder +
                          "/cache' voaurl=http://h/p.vpk?x=1 delay= TickUrl=a=b caf\xC3\xA9=\xE2\x82\xAC");
    // The stand-in never reports progress, so the timed run ends before the hand-off: a failure.
    ASSERT_EQ(run.mStatus, 1) << run.mOutput;
    EXPECT_NE(run.mOutput.find("the run ended before the progress reached 1: progress 0.000"), std::string::npos);
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

TEST_F(HostRun, ScreenshotsThatCannotBeWrittenFailTheRun) {
    // Ready and handed over, but the picture asked for was not written.
    CommandRun headless = Host("--headless --until-ready --seconds 10 --screenshot '" + mFolder + "/a.png@0.1'",
                               "VEXAL_TEST_MODULE='" VEXAL_DEMO_MODULE "'");
    EXPECT_EQ(headless.mStatus, 1) << headless.mOutput;
    EXPECT_NE(headless.mOutput.find("ready after "), std::string::npos);
    EXPECT_NE(headless.mOutput.find("no window to take"), std::string::npos);
    CommandRun late = Host("--headless --until-ready --seconds 10 --screenshot '" + mFolder + "/b.png@30'",
                           "VEXAL_TEST_MODULE='" VEXAL_DEMO_MODULE "'");
    EXPECT_EQ(late.mStatus, 1) << late.mOutput;
    EXPECT_NE(late.mOutput.find("b.png was not taken: the run ended first"), std::string::npos) << late.mOutput;
    if (getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display for the windowed case";
    CommandRun windowed = Host("--size 160x100 --until-ready --seconds 10 --screenshot '" + mFolder +
                                   "/no/such/folder/c.png@0.1'",
                               kWindowedDemo);
    EXPECT_EQ(windowed.mStatus, 1) << windowed.mOutput;
    EXPECT_NE(windowed.mOutput.find("screenshot " + mFolder + "/no/such/folder/c.png failed"), std::string::npos)
        << windowed.mOutput;
}

// Runs of the real loader library that end before the hand-off: the host says what the loader
// reached and shows the end of its trace log, and warns about parameters the loader ignores.
TEST_F(HostRun, RealLoaderRunsThatEndEarlyExplainThemselves) {
    const std::string real = "TSAN_OPTIONS='halt_on_error=1 suppressions=" VEXAL_LOADER_TSAN "' '" VEXAL_HOST_PROGRAM
                             "' --library '" VEXAL_LOADER_LIBRARY "' --headless --cwd '" +
                             mFolder + "/cache' ";
    CommandRun misspelt = RunCommand("env HOME='" + mFolder + "' " + real +
                                     "--until-ready --seconds 1 voarul=http://127.0.0.1:1/p.vpk");
    EXPECT_EQ(misspelt.mStatus, 1) << misspelt.mOutput;
    EXPECT_NE(misspelt.mOutput.find("vexal-host: warning: the loader knows no launch parameter \"voarul\" and "
                                    "ignores it (did you mean voaurl?)"),
              std::string::npos)
        << misspelt.mOutput;
    EXPECT_NE(misspelt.mOutput.find("vexal-host: warning: no package address"), std::string::npos);
    EXPECT_NE(misspelt.mOutput.find("the run ended before the progress reached 1: progress 0.000, state 0 (created)"),
              std::string::npos)
        << misspelt.mOutput;
    // The library's own line, read back from its UTF-16 trace log.
    EXPECT_NE(misspelt.mOutput.find("vexal-host-loader-[Trace].log:\n"), std::string::npos);
    EXPECT_NE(misspelt.mOutput.find("] Unknown launch parameter ignored: voarul\n"), std::string::npos)
        << misspelt.mOutput;

    // A module block arriving at about 1.6 MB/s: the speed figure is the loader's download rate
    // (its socket reads), and the run, cut off in state 4, says so.
    std::string module(6 << 20, '\0');
    for (size_t i = 0; i < module.size(); ++i) module[i] = char((i * 2654435761u) >> 13);
    PackageBuilder builder;
    builder.SetCacheName(u"hostrun");
    ASSERT_TRUE(builder.AddPlainModule(u"game.so", module.data(), uint32_t(module.size())));
    Buffer package;
    ASSERT_TRUE(builder.Finish(package));
    HttpTestServer server;
    ASSERT_TRUE(server.Start());
    HttpPlan plan = HttpPlan::Body(std::string(reinterpret_cast<const char*>(package.GetData()), package.GetSize()));
    plan.mTrickleBytes = 32768;
    plan.mTrickleDelayMs = 20;
    server.Route("/pkg", plan);
    CommandRun slow = RunCommand("env HOME='" + mFolder + "' " + real + "--seconds 3.2 voaurl=" + server.Url("/pkg"));
    server.Stop();
    EXPECT_EQ(slow.mStatus, 1) << slow.mOutput;
    EXPECT_EQ(slow.mOutput.find("warning"), std::string::npos) << slow.mOutput;
    EXPECT_NE(slow.mOutput.find(", state 4 (modules)\n"), std::string::npos) << slow.mOutput;
    EXPECT_NE(slow.mOutput.find("[Loader] Download VOB(0) from url: " + server.Url("/pkg")), std::string::npos);
    double fastest = 0.0;
    for (size_t at = slow.mOutput.find(" speed "); at != std::string::npos; at = slow.mOutput.find(" speed ", at + 1))
        fastest = std::max(fastest, std::atof(slow.mOutput.c_str() + at + 7));
    EXPECT_GT(fastest, 400.0) << slow.mOutput;
    EXPECT_LT(fastest, 10000.0) << slow.mOutput;
}

} // namespace
