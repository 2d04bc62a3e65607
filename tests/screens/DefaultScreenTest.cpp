// The default loading screen (the embedded script and pictures) drawn into real windows and read
// back from them: the bars follow the progress, the status texts show, a narrow window gets
// narrower bars that keep their width when the window grows again, and windows of other depths
// and visuals show the same picture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Source/Common/Buffer.h"
#include "Source/Platform/Graphics.h"
#include "Source/Platform/Resource.h"
#include "Source/Platform/Window.h"
#include "ScreenTestSupport.h"
#include "TestWindow.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

// The default script's layout with the embedded pictures.
constexpr int kBarWidth = 1038, kLeftW = 48, kRightW = 47;
int BarLeft(int width) { return (width - kBarWidth - kLeftW - kRightW) / 2; }
int LowerBarTop(int height) { return height - 122; }

bool IsFill(uint32_t p) { return Green(p) > 150 && Blue(p) > 200; }
bool IsEmptyTrack(uint32_t p) { return Green(p) < 120 && Blue(p) < 160; }

int WhitePixels(const TestWindow& window, int left, int top, int right, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            uint32_t p = window.Pixel(x, y);
            if (Red(p) > 200 && Green(p) > 200 && Blue(p) > 200) ++count;
        }
    return count;
}

// The lower bar of a 640 x 480 window at progress 0.5: the bars shrink to 640 - 48 - 47 = 545
// pixels from x = 0, so the fill runs from 48 to about 320 (the marker covers 282 to 400).
void ExpectLowerBarHalfFilled(const TestWindow& window) {
    int row = LowerBarTop(480) + 8, filled = 0, empty = 0;
    for (int x = 60; x < 140; ++x) filled += IsFill(window.Pixel(x, row));
    for (int x = 540; x < 580; ++x) empty += IsEmptyTrack(window.Pixel(x, row));
    EXPECT_EQ(filled, 80) << "pixel (60, " << row << ") is 0x" << std::hex << window.Pixel(60, row);
    EXPECT_EQ(empty, 40) << "pixel (540, " << row << ") is 0x" << std::hex << window.Pixel(540, row);
}

// The library's window services talk to another X server for the life of the object.
class UseDisplay {
public:
    explicit UseDisplay(const std::string& name) {
        const char* previous = std::getenv("DISPLAY");
        mPrevious = previous ? previous : "";
        CloseWindowConnections();
        setenv("DISPLAY", name.c_str(), 1);
    }
    ~UseDisplay() {
        CloseWindowConnections();
        setenv("DISPLAY", mPrevious.c_str(), 1);
    }

private:
    std::string mPrevious;
};

class DefaultScreen : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        if (!HasDisplay()) GTEST_SKIP() << "no X display (the test command starts Xvfb)";
        Buffer bytes;
        ASSERT_TRUE(LoadEmbeddedResource(u"bg.png", bytes));
        mBackground = DecodeImage(bytes.GetData(), bytes.GetSize());
    }
    void TearDown() override {
        DestroyImage(mBackground);
        ScreenTest::TearDown();
    }
    // The background picture's colour where the window shows it at (x, y) (it is centred, and
    // placed at 0 where it is larger than the window).
    uint32_t Background(int width, int height, int x, int y) const {
        int left = (width - 1920) / 2, top = (height - 1080) / 2;
        if (left < 0) left = 0;
        if (top < 0) top = 0;
        return ImagePixel(mBackground, x - left, y - top) & 0xFFFFFF;
    }
    void CheckBars(int width, int height) {
        TestWindow window(width, height);
        ASSERT_TRUE(window.IsValid());
        ScreenLoader loader(window.Handle());
        ASSERT_NE(loader.GetGdiRenderer(), nullptr);
        int fillStart = BarLeft(width) + kLeftW;
        int row = LowerBarTop(height) + 3 + 5;
        for (float progress : {0.25f, 0.75f}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height << " progress " << progress);
            loader.SetProgress(progress);
            loader.Render();
            window.Capture();
            EXPECT_TRUE(IsFill(window.Pixel(fillStart + 100, row)));
            EXPECT_EQ(IsFill(window.Pixel(fillStart + 700, row)), progress > 0.5f);
            EXPECT_EQ(IsEmptyTrack(window.Pixel(fillStart + 700, row)), progress < 0.5f);
            EXPECT_TRUE(IsEmptyTrack(window.Pixel(fillStart + 950, row)));
            // Both status texts, centred on their bars, in white.
            int lowTop = LowerBarTop(height);
            EXPECT_GT(WhitePixels(window, width / 2 - 100, lowTop - 1, width / 2 + 100, lowTop + 20), 30);
            EXPECT_GT(WhitePixels(window, width / 2 - 100, lowTop - 51, width / 2 + 100, lowTop - 30), 30);
        }
        // Above the bars only the background shows.
        EXPECT_EQ(window.Pixel(width / 4, height / 4), Background(width, height, width / 4, height / 4));
    }

    GraphicsImage* mBackground = nullptr;
};

TEST_F(DefaultScreen, BarsFollowProgressAt1280x720) { CheckBars(1280, 720); }

TEST_F(DefaultScreen, BarsFollowProgressAt1920x1080) { CheckBars(1920, 1080); }

TEST_F(DefaultScreen, NarrowWindowShrinksBarsForGood) {
    TestWindow window(800, 600);
    ASSERT_TRUE(window.IsValid());
    ScreenLoader loader(window.Handle());
    loader.SetProgress(0.25f);
    int row = LowerBarTop(600) + 8;
    loader.Render();
    window.Capture();
    // The bars start at x = 0 (the diamond of the left cap) and end at the window's edge.
    EXPECT_NE(window.Pixel(5, row), Background(800, 600, 5, row));
    EXPECT_NE(window.Pixel(780, row), Background(800, 600, 780, row));

    window.Resize(1600, 600);
    loader.Render();
    window.Capture();
    // Centred again, but 800 - 48 - 47 = 705 wide: from 400 to 400 + 48 + 705 + 47 = 1200.
    EXPECT_EQ(window.Pixel(395, row), Background(1600, 600, 395, row));
    EXPECT_NE(window.Pixel(405, row), Background(1600, 600, 405, row));
    EXPECT_NE(window.Pixel(1180, row), Background(1600, 600, 1180, row));
    EXPECT_EQ(window.Pixel(1210, row), Background(1600, 600, 1210, row));
}

TEST_F(DefaultScreen, ReachesWindowsOfOtherDepths) {
    for (int depth : {16, 30}) {
        SCOPED_TRACE(testing::Message() << "depth " << depth);
        ExtraDisplay server(depth);
        if (server.Name().empty()) GTEST_SKIP() << "Xvfb could not be started at depth " << depth;
        UseDisplay use(server.Name());
        TestWindow window(640, 480, server.Name().c_str());
        ASSERT_TRUE(window.IsValid());
        {
            ScreenLoader loader(window.Handle());
            loader.SetProgress(0.5f);
            loader.Render();
        }
        window.Capture();
        ExpectLowerBarHalfFilled(window);
    }
}

TEST_F(DefaultScreen, ReachesAnArgbWindow) {
    // Compositing hosts give their windows a 32-bit visual with alpha on a 24-bit screen.
    TestWindow window(640, 480, nullptr, 32);
    if (!window.IsValid()) GTEST_SKIP() << "the display has no 32-bit visual";
    ScreenLoader loader(window.Handle());
    loader.SetProgress(0.5f);
    loader.Render();
    window.Capture();
    ExpectLowerBarHalfFilled(window);
}

TEST_F(DefaultScreen, ADisplayThatDidNotAnswerAtFirstIsUsedOnceItDoes) {
    // A display that is busy or not yet up when the screen starts must not leave the window black
    // for the whole run: the library tries its connections again a second later.
    ExtraDisplay server(24);
    if (server.Name().empty()) GTEST_SKIP() << "Xvfb could not be started";
    UseDisplay use(server.Name());
    TestWindow window(640, 480, server.Name().c_str());
    ASSERT_TRUE(window.IsValid());
    std::string silent;
    for (int number = 900; silent.empty() && number < 1000; ++number)
        if (access((std::string("/tmp/.X11-unix/X") + std::to_string(number)).c_str(), F_OK) != 0)
            silent = std::string(":") + std::to_string(number);
    setenv("DISPLAY", silent.c_str(), 1);
    ScreenLoader loader(window.Handle());
    loader.SetProgress(0.5f);
    loader.Render();
    setenv("DISPLAY", server.Name().c_str(), 1);
    usleep(1100 * 1000);
    loader.Render();
    window.Capture();
    ExpectLowerBarHalfFilled(window);
}

TEST_F(DefaultScreen, AWindowThatCannotShowThePictureIsReportedOnce) {
    // An 8-bit display has colour maps, not colours, in its pixels.
    ExtraDisplay server(8);
    if (server.Name().empty()) GTEST_SKIP() << "Xvfb could not be started at depth 8";
    UseDisplay use(server.Name());
    TestWindow window(320, 240, server.Name().c_str());
    ASSERT_TRUE(window.IsValid());
    {
        ScreenLoader loader(window.Handle());
        CaptureLog();
        for (int i = 0; i < 3; ++i) loader.Render();
    }
    int reports = 0;
    for (const std::string& line : mTrace)
        reports += line.find("The loading screen cannot be shown in window") != std::string::npos;
    EXPECT_EQ(reports, 1);
}

using HeadlessScreen = ScreenTest;

TEST_F(HeadlessScreen, EmptyClientAreaRunsNoPass) {
    // A null window (headless): no picture, no script call, no crash; the bars keep their width.
    ScreenLoader loader(0);
    ASSERT_NE(loader.GetGdiRenderer(), nullptr);
    loader.Render();
    EXPECT_EQ(loader.GetGdiRenderer()->GetLastFrame(), nullptr);
}

} // namespace
