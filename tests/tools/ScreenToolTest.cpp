// vexal-screen as an author runs it: a script drawn in a window at a given progress, its
// screenshot, errors with tracebacks, the profile and the allocation list on the console.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

namespace {

// Runs the tool with the arguments; its standard output and error together.
std::string RunTool(const std::string& arguments, int* status) {
    CommandRun run = RunCommand(std::string("'") + VEXAL_BINARY_DIR + "/bin/vexal-screen' " + arguments);
    if (status) *status = run.mStatus;
    return run.mOutput;
}

bool HasDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

// The colour (0xRRGGBB) of a pixel of a PNG file; -1 when it cannot be read.
long PixelOf(const std::string& path, int x, int y, int* width = nullptr) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    long colour = -1;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS && x < cairo_image_surface_get_width(surface) &&
        y < cairo_image_surface_get_height(surface)) {
        const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        colour = long(reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF);
        if (width) *width = cairo_image_surface_get_width(surface);
    }
    cairo_surface_destroy(surface);
    return colour;
}

TEST(ScreenTool, OptionsAreChecked) {
    int status = 0;
    EXPECT_NE(RunTool("--progress 2 x.lua", &status).find("expected a number from 0 to 1"), std::string::npos);
    EXPECT_EQ(status, 2);
    EXPECT_NE(RunTool("--progress 0.5 --seconds 2 x.lua", &status).find("exclude each other"), std::string::npos);
    EXPECT_NE(RunTool("--screenshot nowhen x.lua", &status).find("FILE@SECONDS"), std::string::npos);
    EXPECT_NE(RunTool("", &status).find("no script given"), std::string::npos);
    EXPECT_NE(RunTool("/nonexistent/screen.lua", &status).find("cannot read"), std::string::npos);
    EXPECT_EQ(status, 1);
}

TEST(ScreenTool, DrawsTheScriptAtTheGivenProgress) {
    if (!HasDisplay()) GTEST_SKIP() << "no X display (the test command starts Xvfb)";
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    // The left part up to the progress is green, the rest blue; a second frame has a slow call.
    // At 0.25 the loader itself is downloading: it counts one resource and none finished.
    ASSERT_TRUE(WriteNativeFile(folder.Native("bar.lua"),
                                "local frames = 0\n"
                                "local function spin(n) local s = 0 for i = 1, n do s = s + i end return s end\n"
                                "_gdi.bgColor = 0xFF0000FF\n"
                                "_gdi:onRender(function()\n"
                                "  frames = frames + 1\n"
                                "  if _gdi.resCount ~= 1 or _gdi.finishCount ~= 0 or _gdi.resSize == 0 then\n"
                                "    error('counters ' .. _gdi.resCount .. ' ' .. _gdi.finishCount) end\n"
                                "  local t = {} for i = 1, 2000 do t[i] = {i} end\n"
                                "  if frames == 2 then spin(30000000) end\n"
                                "  _gdi:fillRect(0, 0, _gdi.w * _gdi.progress, _gdi.h, 0xFF00FF00)\n"
                                "end)\n"));
    int status = -1;
    std::string shot = folder.Native("shot.png");
    std::string output = RunTool("--size 200x100 --progress 0.25 --screenshot '" + shot +
                                     "@1.5' --profile --slow 1 --alloc 4096 '" + folder.Native("bar.lua") + "'",
                                 &status);
    EXPECT_EQ(status, 0) << output;
    // Only what the script causes: none of the loader's or the runtime's own lines.
    EXPECT_EQ(output.find("[Loader]"), std::string::npos) << output;
    EXPECT_EQ(output.find("[KL]"), std::string::npos) << output;
    int width = 0;
    EXPECT_EQ(PixelOf(shot, 10, 50, &width), 0x00FF00) << output;
    EXPECT_EQ(width, 200);
    EXPECT_EQ(PixelOf(shot, 100, 50), 0x0000FF);
    EXPECT_NE(output.find("[LS] Cost too much time, threshold is 1 ms"), std::string::npos) << output;
    EXPECT_NE(output.find("[Lua], spin, (@bar.lua:2), cost"), std::string::npos) << output;
    EXPECT_NE(output.find("[LS] Dump lua profile Begin"), std::string::npos);
    // Natives read "(Unknown)" in both tables; the render function has rows of its own; nothing
    // of the default script is run or listed.
    EXPECT_NE(output.find("[C], _GDI.fillRect, (Unknown), called"), std::string::npos) << output;
    EXPECT_NE(output.find("[C], _GDI.fillRect, (Unknown), called", output.find("Order by avg call cost")),
              std::string::npos);
    EXPECT_EQ(output.find("(), called"), std::string::npos) << output;
    EXPECT_NE(output.find("[Lua], (render function), (@bar.lua:4), called"), std::string::npos) << output;
    EXPECT_NE(output.find("[Lua], (render function), (@bar.lua:4), called", output.find("Order by avg call cost")),
              std::string::npos);
    EXPECT_EQ(output.find("loading-gdi.lua"), std::string::npos) << output;
    EXPECT_EQ(output.find("vexal-screen)"), std::string::npos) << "the tool's own lines stay out";
    EXPECT_NE(output.find("[LS] Dump Lua Alloc Begin"), std::string::npos);
    EXPECT_NE(output.find("bar.lua:8:\t\t"), std::string::npos) << output;
}

TEST(ScreenTool, ScriptErrorsShowTheirTraceback) {
    if (!HasDisplay()) GTEST_SKIP() << "no X display (the test command starts Xvfb)";
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    ASSERT_TRUE(WriteNativeFile(folder.Native("bad.lua"),
                                "local function inner() local x return x.field end\n"
                                "_gdi:onRender(function() _gdi:fillRect(0, 0, 10, 10, 0xFFFFFFFF) inner() end)\n"));
    int status = -1;
    std::string shot = folder.Native("bad.png");
    std::string output =
        RunTool("--size 120x80 --seconds 0.1 --screenshot '" + shot + "@1' '" + folder.Native("bad.lua") + "'", &status);
    // A broken script fails the run, and the window shows only what it drew: the black of a
    // screen without a background colour, not the default screen's grey.
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("vexal-screen: "), std::string::npos);
    EXPECT_EQ(PixelOf(shot, 5, 5), 0xFFFFFF) << output;
    EXPECT_EQ(PixelOf(shot, 60, 40), 0x000000) << output;
    EXPECT_NE(output.find("bad.lua:1: attempt to index local 'x' (a nil value)"), std::string::npos) << output;
    EXPECT_NE(output.find("stack traceback:"), std::string::npos);
    EXPECT_NE(output.find("in function 'inner'"), std::string::npos);
}

// The folder a library would be built with: its script and pictures, the defaults for the rest.
TEST(ScreenTool, PreviewsAnAssetsFolderAsALibraryBuiltWithIt) {
    if (!HasDisplay()) GTEST_SKIP() << "no X display (the test command starts Xvfb)";
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    std::string shot = folder.Native("own.png");
    int status = -1;
    std::string output = RunTool("--size 320x200 --progress 0.5 --screenshot '" + shot + "@1' --assets '" +
                                     std::string(VEXAL_TEST_DATA_DIR) + "/screens/own-assets'",
                                 &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(PixelOf(shot, 250, 20), 0x2060A0) << output;
    EXPECT_EQ(PixelOf(shot, 10, 10), 0xE03020);
    EXPECT_NE(PixelOf(shot, 120, 105), 0x2060A0) << "the default track picture";
}

} // namespace
