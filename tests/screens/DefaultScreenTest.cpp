// The default loading screen (the embedded script and pictures) drawn into real windows and read
// back from them: the bars follow the progress, the status texts show, a narrow window gets
// narrower bars that keep their width when the window grows again.
#include <gtest/gtest.h>

#include "Source/Common/Buffer.h"
#include "Source/Platform/Graphics.h"
#include "Source/Platform/Resource.h"
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

using HeadlessScreen = ScreenTest;

TEST_F(HeadlessScreen, EmptyClientAreaRunsNoPass) {
    // A null window (headless): no picture, no script call, no crash; the bars keep their width.
    ScreenLoader loader(0);
    ASSERT_NE(loader.GetGdiRenderer(), nullptr);
    loader.Render();
    EXPECT_EQ(loader.GetGdiRenderer()->GetLastFrame(), nullptr);
}

}  // namespace
