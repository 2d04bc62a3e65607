// The _gdi script interface as loading-screen scripts use it: drawing and measuring inside a
// render pass against a real window, handles, properties, the class constructor, animated
// images and the render function's life.
#include <gtest/gtest.h>

#include <cmath>

#include "Source/Common/Variable.h"
#include "Source/Platform/Graphics.h"
#include "Source/Script/IScriptManager.h"
#include "ScreenTestSupport.h"
#include "TestImages.h"
#include "TestWindow.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

class GdiScript : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(WriteNativeFile(mFolder.Native("red.bmp"), SolidBmp(20, 20, 0xFF0000)));
        ASSERT_TRUE(WriteNativeFile(mFolder.Native("blink.gif"), TwoFrameGif(0, 10)));
        if (HasDisplay()) mWindow = std::make_unique<TestWindow>(640, 480);
        mLoader = std::make_unique<ScreenLoader>(mWindow ? mWindow->Handle() : 0);
        mRenderer = mLoader->GetGdiRenderer();
        ASSERT_NE(mRenderer, nullptr);
        mManager = Vexal::FindScriptManager();
        ASSERT_NE(mManager, nullptr);
        // A black canvas and no render function of the default script.
        Run("_gdi.bgColor = 0xFF000000; _gdi:onRender(nil)");
    }
    void TearDown() override {
        mLoader.reset();
        mWindow.reset();
        ScreenTest::TearDown();
    }
    void RequireWindow() {
        if (!mWindow || !mWindow->IsValid()) GTEST_SKIP() << "no X display (the test command starts Xvfb)";
    }
    // Runs script text; its result as a number.
    double Run(const std::string& text) {
        Variable result;
        mManager->RunString(&result, WideText(text), u"test", 1);
        return result.GetNumber();
    }
    std::string LastError() {
        const WideChar* error = u"";
        mManager->GetLastError(&error);
        return NarrowText(error);
    }
    void Draw() {
        mLoader->Render();
        mWindow->Capture();
    }
    // The box of pixels brighter than grey in the area; false when there are none.
    bool InkBox(int left, int top, int right, int bottom, int box[4]) {
        box[0] = right, box[1] = bottom, box[2] = -1, box[3] = -1;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                if (Red(mWindow->Pixel(x, y)) > 128) {
                    box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
                    box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
                }
        return box[2] >= 0;
    }

    std::unique_ptr<TestWindow> mWindow;
    std::unique_ptr<ScreenLoader> mLoader;
    Vexal3DRenderer_GDI* mRenderer = nullptr;
    Vexal::IScriptManager* mManager = nullptr;
};

TEST_F(GdiScript, ConstantsPropertiesAndColours) {
    EXPECT_EQ(Run("return _GDI.hLeft + _GDI.hCenter * 10 + _GDI.hRight * 100"), 210);
    EXPECT_EQ(Run("return _GDI.vTop + _GDI.vCenter + _GDI.vBottom"), 48);
    EXPECT_EQ(Run("_gdi.bgColor = 0xFF404040 return _gdi.bgColor"), 4282400832.0);
    EXPECT_EQ(mRenderer->GetBgColor(), 0xFF404040u);
    mLoader->SetProgress(0.5f);
    mLoader->SetSpeed(12.5f);
    mLoader->SetCounts(8, 3, 1000, 250);
    EXPECT_EQ(Run("return _gdi.progress"), 0.5);
    EXPECT_EQ(Run("return _gdi.speed"), 12.5);
    EXPECT_EQ(Run("return _gdi.resCount * 1000 + _gdi.finishCount"), 8003);
    EXPECT_EQ(Run("return _gdi.resSize - _gdi.finishSize"), 750);
    EXPECT_EQ(Run("return _gdi.w * 10000 + _gdi.h"), mWindow && mWindow->IsValid() ? 640 * 10000 + 480 : 0);
    // Read-only: a write does not reach the loader.
    Run("_gdi.progress = 3");
    EXPECT_EQ(mLoader->GetProgress(), 0.5f);
}

TEST_F(GdiScript, ClassConstructorMakesAnOwnerlessRenderer) {
    mLoader->SetProgress(0.5f);
    EXPECT_EQ(Run("local r = _GDI.new() return r.w + r.h + r.progress + r.speed + r.resCount + r.finishCount"
                  " + r.resSize + r.finishSize"),
              0);
    EXPECT_EQ(Run("local r = _GDI.new() local f = r:loadFont('sans', 12) local i = r:loadImage('red.bmp')"
                  " return f * 10 + i + r:getImageWidth(i) + r:getTextHeight(f)"),
              11);
    mManager->CollectGarbage();
}

TEST_F(GdiScript, HandlesAndLoading) {
    double before = mRenderer->GetImageCount();
    EXPECT_EQ(Run("return _gdi:loadImage('no-such-picture.png')"), 0);
    EXPECT_EQ(mRenderer->GetImageCount(), before);
    EXPECT_EQ(Run("return _gdi:loadImage('RED.BMP')"), 0) << "a file name is looked up as given";
    EXPECT_EQ(Run("a = _gdi:loadImage('red.bmp') b = _gdi:loadImage('red.bmp') return b - a"), 1);
    EXPECT_EQ(Run("a = _gdi:loadImage('track.png') b = _gdi:loadImage('TRACK.PNG') return b - a"), 1)
        << "embedded names are compared without regard to case";
    // Undecodable bytes still get a handle; it measures 0.
    ASSERT_TRUE(WriteNativeFile(mFolder.Native("junk.png"), "not a picture"));
    EXPECT_GT(Run("return _gdi:loadImage('junk.png')"), before);
    // A font that cannot be made still counts.
    EXPECT_EQ(Run("local a = _gdi:loadFont('sans', 0) local b = _gdi:loadFont('No Such Family', 14) return b - a"), 1);
}

TEST_F(GdiScript, DrawingAndMeasuringOnlyInsideAPass) {
    RequireWindow();
    if (IsSkipped()) return;
    Run("bg = _gdi:loadImage('bg.png') font = _gdi:loadFont('No Such Family', 14)"
        " outside = _gdi:getImageWidth(bg) + _gdi:getTextHeight(font) + _gdi:getTextWidth(font, 'x')"
        " _gdi:fillRect(0, 0, 100, 100, 0xFFFFFFFF)"
        " _gdi:onRender(function()"
        "   inside = _gdi:getImageWidth(bg) insideH = _gdi:getImageHeight(bg)"
        "   height = _gdi:getTextHeight(font) width = _gdi:getTextWidth(font, 'WWW')"
        "   big = _gdi:getTextHeight(_gdi:loadFont('DejaVu Sans', 20))"
        "   padded = _gdi:getTextWidth(font, '  WWW  ')"
        "   bad = _gdi:getTextHeight(0) + _gdi:getTextHeight(99) + _gdi:getImageWidth(0)"
        "     + _gdi:getImageWidth(99) + _gdi:getTextWidth(0, 'x') + _gdi:getImageHeight(4294967295)"
        " end)");
    EXPECT_EQ(Run("return outside"), 0);
    Draw();
    EXPECT_EQ(Run("return inside"), 1920);
    EXPECT_EQ(Run("return insideH"), 1080);
    // The line spacing as the font designs it (1.164 em for the sans-serif family here), cut
    // toward zero: 16.3 and 23.3, not ascent and descent each rounded up (17 and 24).
    EXPECT_EQ(Run("return height"), 16);
    EXPECT_EQ(Run("return big"), 23);
    EXPECT_GT(Run("return width"), 20);
    EXPECT_EQ(Run("return padded"), Run("return width")) << "blanks add no ink";
    EXPECT_EQ(Run("return bad"), 0);
    EXPECT_EQ(mWindow->Pixel(50, 50), 0u) << "drawing outside the pass left nothing";
}

TEST_F(GdiScript, DrawImageCountsItsParameters) {
    RequireWindow();
    if (IsSkipped()) return;
    Run("red = _gdi:loadImage('red.bmp') track = _gdi:loadImage('track.png')"
        " _gdi:onRender(function()"
        "   _gdi:drawImage(red, 0, 0)"
        "   _gdi:drawImage(red, 30, 0, 10)"
        "   _gdi:drawImage(red, 60, 0, 10, nil)"
        "   _gdi:drawImage(red, 90, 0, 5, 5)"
        "   _gdi:drawImage(red, 120, 0, 30, 25)"
        "   _gdi:drawImage(track, 0, 100, 500)"
        "   _gdi:drawImage(0, 200, 0) _gdi:drawImage(99, 200, 0)"
        " end)");
    Draw();
    EXPECT_EQ(mWindow->Pixel(19, 19), 0xFF0000u);
    EXPECT_EQ(mWindow->Pixel(20, 5), 0u);
    EXPECT_EQ(mWindow->Pixel(39, 19), 0xFF0000u) << "width 10, the image's height";
    EXPECT_EQ(mWindow->Pixel(40, 5), 0u);
    EXPECT_EQ(mWindow->Pixel(65, 5), 0u) << "an explicit nil height is 0: nothing drawn";
    EXPECT_EQ(mWindow->Pixel(94, 4), 0xFF0000u);
    EXPECT_EQ(mWindow->Pixel(95, 5), 0u);
    EXPECT_EQ(mWindow->Pixel(149, 24), 0xFF0000u) << "beyond the image it repeats mirrored";
    // A 1 x 11 column becomes a 500 x 11 bar.
    for (int y = 100; y < 111; ++y) {
        EXPECT_EQ(mWindow->Pixel(499, y), mWindow->Pixel(0, y));
        EXPECT_EQ(mWindow->Pixel(250, y), mWindow->Pixel(0, y));
    }
    EXPECT_NE(mWindow->Pixel(0, 105), 0u);
    EXPECT_EQ(mWindow->Pixel(500, 105), 0u);
    EXPECT_EQ(mWindow->Pixel(0, 111), 0u);
    EXPECT_EQ(mWindow->Pixel(205, 5), 0u);
}

TEST_F(GdiScript, DrawTextAlignsByFlags) {
    RequireWindow();
    if (IsSkipped()) return;
    int box[4];
    auto place = [&](int flags, int font) {
        Run("font = _gdi:loadFont('sans-serif', 14) flags = " + std::to_string(flags) +
            " handle = " + (font < 0 ? std::string("font") : std::to_string(font)) +
            " _gdi:onRender(function() _gdi:drawText(handle, 'WWWW', 100, 200, 500, 300, flags, 0xFFFFFFFF) end)");
        Draw();
        return InkBox(0, 0, 640, 480, box);
    };
    ASSERT_TRUE(place(0, -1));
    EXPECT_LE(box[0], 106);
    EXPECT_LE(box[1], 206);
    ASSERT_TRUE(place(17, -1));
    EXPECT_NEAR((box[0] + box[2]) / 2.0, 300, 3);
    EXPECT_NEAR((box[1] + box[3]) / 2.0, 250, 4);
    ASSERT_TRUE(place(3, -1)) << "right wins over centre";
    EXPECT_GE(box[2], 490);
    EXPECT_LE(box[2], 500);
    ASSERT_TRUE(place(48, -1)) << "bottom wins over centre";
    EXPECT_GE(box[3], 288);
    EXPECT_LE(box[3], 300);
    EXPECT_LE(box[0], 106);
    // Clipped to the rectangle.
    Run("_gdi:onRender(function() _gdi:drawText(font, 'WWWWWWWWWW', 0, 0, 30, 8, 0, 0xFFFFFFFF) end)");
    Draw();
    ASSERT_TRUE(InkBox(0, 0, 640, 480, box));
    EXPECT_LT(box[2], 30);
    EXPECT_LT(box[3], 8);
    // Bad font handles draw nothing.
    EXPECT_FALSE(place(0, 0));
    EXPECT_FALSE(place(0, 999));
    // Rectangles wider than a text layout can be (two million pixels) still place the text by
    // their alignment: centred on (300, 250), and ending at x = 500.
    Run("_gdi:onRender(function() _gdi:drawText(font, 'WWWW', 300 - 1500000, 250 - 2000000000, 300 + 1500000,"
        " 250 + 2000000000, 17, 0xFFFFFFFF) end)");
    Draw();
    ASSERT_TRUE(InkBox(0, 0, 640, 480, box));
    EXPECT_NEAR((box[0] + box[2]) / 2.0, 300, 3);
    EXPECT_NEAR((box[1] + box[3]) / 2.0, 250, 4);
    Run("_gdi:onRender(function() _gdi:drawText(font, 'WWWW', 600 - 2147483647, 200, 2147483647, 300, 1,"
        " 0xFFFFFFFF) end)");
    Draw();
    ASSERT_TRUE(InkBox(0, 0, 640, 480, box));
    EXPECT_NEAR((box[0] + box[2]) / 2.0, 300, 3);
    Run("_gdi:onRender(function() _gdi:drawText(font, 'WWWW', 500 - 3000000, 200, 500, 300, 2, 0xFFFFFFFF) end)");
    Draw();
    ASSERT_TRUE(InkBox(0, 0, 640, 480, box));
    EXPECT_GE(box[2], 490);
    EXPECT_LE(box[2], 500);
}

TEST(GraphicsText, RectanglesWithoutAFiniteSizeDrawNothing) {
    GraphicsCanvas* canvas = CreateCanvas(64, 32);
    GraphicsFont* font = CreateFont(u"sans", 14);
    auto inked = [&] {
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x)
                if (CanvasPixel(canvas, x, y) != 0) return true;
        return false;
    };
    const double nan = std::nan(""), infinite = HUGE_VAL;
    const double rectangles[][4] = {{nan, 0, 64, 32}, {0, nan, 64, 32}, {0, 0, nan, 32}, {0, 0, 64, nan}, {-infinite, 0, infinite, 32}, {0, 0, infinite, 32}, {0, -infinite, 64, 32}};
    for (const auto& r : rectangles) {
        CanvasDrawText(canvas, font, u"WW", r[0], r[1], r[2], r[3], kGraphicsAlignCenter, kGraphicsAlignCenter,
                       0xFFFFFFFF);
        EXPECT_FALSE(inked()) << r[0] << " " << r[1] << " " << r[2] << " " << r[3];
    }
    // The canvas still draws afterwards.
    CanvasDrawText(canvas, font, u"WW", 0, 0, 64, 32, kGraphicsAlignCenter, kGraphicsAlignCenter, 0xFFFFFFFF);
    EXPECT_TRUE(inked());
    DestroyFont(font);
    DestroyCanvas(canvas);
}

TEST_F(GdiScript, ShapesAndChaining) {
    RequireWindow();
    if (IsSkipped()) return;
    Run("_gdi:onRender(function()"
        "  _gdi:fillRect(10, 10, 20, 20, 0xFF00FF00):drawRect(30, 10, 40, 20, 0xFFFF0000)"
        "  _gdi:drawLine(0, 50, 99, 50, 0x800000FF)"
        " end)");
    Draw();
    EXPECT_EQ(mWindow->Pixel(10, 10), 0x00FF00u);
    EXPECT_EQ(mWindow->Pixel(19, 19), 0x00FF00u);
    EXPECT_EQ(mWindow->Pixel(20, 20), 0u);
    EXPECT_EQ(mWindow->Pixel(30, 10), 0xFF0000u);
    EXPECT_EQ(mWindow->Pixel(40, 20), 0xFF0000u) << "the outline covers right and bottom";
    EXPECT_EQ(mWindow->Pixel(35, 15), 0u);
    EXPECT_EQ(Blue(mWindow->Pixel(50, 50)), 128) << "alpha 0x80 blends over black";
    EXPECT_EQ(mWindow->Pixel(50, 51), 0u);
}

TEST_F(GdiScript, RenderFunctionLifeAndErrors) {
    RequireWindow();
    if (IsSkipped()) return;
    Run("calls = 0 _gdi.bgColor = 0xFF203040"
        " _gdi:onRender(function() calls = calls + 1 _gdi:fillRect(0, 0, 50, 50, 0xFF00FF00) error('boom') end)");
    Draw();
    EXPECT_EQ(Run("return calls"), 1);
    EXPECT_EQ(mWindow->Pixel(10, 10), 0x00FF00u) << "what was drawn before the error is shown";
    EXPECT_EQ(mWindow->Pixel(100, 100), 0x203040u);
    Draw();
    EXPECT_EQ(Run("return calls"), 2) << "the next pass calls the function again";
    Run("_gdi:onRender(nil)");
    EXPECT_EQ(mRenderer->GetRenderCallback(), 0);
    Draw();
    EXPECT_EQ(Run("return calls"), 2);
    EXPECT_EQ(mWindow->Pixel(10, 10), 0x203040u) << "only the background colour";
    Run("_gdi:onRender(function() calls = calls + 10 end) _gdi:onRender(42)");
    Draw();
    EXPECT_EQ(Run("return calls"), 2) << "a value that is not a function removes the stored one";
}

TEST_F(GdiScript, MethodsNeedTheirObject) {
    // Called with '.' instead of ':' there is no self: nothing happens, nothing is returned.
    EXPECT_EQ(Run("return _gdi.loadFont('sans', 14)"), 0);
    EXPECT_EQ(Run("local ok = pcall(_gdi.drawLine, {}, 1, 2, 3, 4, 5) return ok and 1 or 0"), 1);
    // Chained calls return the object.
    EXPECT_EQ(Run("return _gdi:drawLine(0, 0, 1, 1, 0) == _gdi and 1 or 0"), 1);
}

TEST_F(GdiScript, AnimatedImagesStepOneFrameAtATime) {
    double handle = Run("gif = _gdi:loadImage('blink.gif') return gif");
    ASSERT_EQ(handle, mRenderer->GetImageCount());
    const Array<AnimatedImage>& animations = mRenderer->GetAnimations();
    ASSERT_GE(animations.GetCount(), 1);
    const AnimatedImage& gif = animations[animations.GetCount() - 1];
    GraphicsImage* image = mRenderer->GetImage(uint32_t(mRenderer->GetImageCount()));
    EXPECT_EQ(gif.frameCount, 2u);
    EXPECT_EQ(gif.currentDelay, 50u) << "a delay of 0 shows for 50 ms";
    EXPECT_EQ(ImagePixel(image, 0, 0) & 0xFFFFFF, 0u);
    mRenderer->Animate(49);
    EXPECT_EQ(gif.currentFrame, 0u);
    mRenderer->Animate(1);
    EXPECT_EQ(gif.currentFrame, 1u);
    EXPECT_EQ(gif.currentDelay, 100u);
    EXPECT_EQ(SelectedImageFrame(image), 1);
    EXPECT_EQ(ImagePixel(image, 0, 0) & 0xFFFFFF, 0xFFFFFFu);
    mRenderer->Animate(1000);
    EXPECT_EQ(gif.currentFrame, 0u) << "one frame per call, however long";
    mRenderer->Animate(1000);
    EXPECT_EQ(gif.currentFrame, 1u);
    // Still pictures carry no animation.
    int32_t count = animations.GetCount();
    Run("_gdi:loadImage('red.bmp') _gdi:loadImage('front.png')");
    EXPECT_EQ(animations.GetCount(), count);
}

} // namespace
