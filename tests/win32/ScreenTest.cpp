// The loading screen in real windows under Windows (Wine with Xvfb here): the host's window gets
// its timer messages, the default screen is drawn through GDI+ and presented in one block
// transfer, and what the window shows is read back. Fonts and smoothing differ from the Linux
// drawing, so pixels are judged by their features and with tolerances.
#include <windows.h>
#include <gdiplus.h>
#undef CreateFont

#include <gtest/gtest.h>

#include <string>
#include <vector>

#define FlashWindow FlashWindowHandle // <windows.h> has a function of that name
#include "Source/Platform/FlashControl.h"
#undef FlashWindow
#include "Source/Common/Buffer.h"
#include "Source/Platform/Graphics.h"
#include "Source/Platform/Resource.h"
#include "Source/Platform/Window.h"
#include "screens/ScreenTestSupport.h"
#include "screens/TestImages.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

// The host process starts GDI+; the library never does.
class GdiPlusSession : public testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&mToken, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(mToken); }

private:
    ULONG_PTR mToken = 0;
};
const testing::Environment* const gGdiPlus = testing::AddGlobalTestEnvironment(new GdiPlusSession);

int Red(uint32_t p) { return int((p >> 16) & 0xFF); }
int Green(uint32_t p) { return int((p >> 8) & 0xFF); }
int Blue(uint32_t p) { return int(p & 0xFF); }

// A top-level window whose client area is exactly width x height, read back from the screen.
class TestWindow {
public:
    TestWindow(int width, int height) : mWidth(width), mHeight(height) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VexalScreenTest";
        RegisterClassW(&windowClass); // a second registration fails harmlessly
        mWindow = CreateWindowExW(0, L"VexalScreenTest", L"screen test", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        Pump(50);
    }
    ~TestWindow() {
        if (mWindow) DestroyWindow(mWindow);
    }
    bool IsValid() const { return mWindow != nullptr; }
    uintptr_t Handle() const { return reinterpret_cast<uintptr_t>(mWindow); }
    HWND Window() const { return mWindow; }

    // Handles the window's messages for a while; counts WM_TIMER of id 0.
    int Pump(DWORD milliseconds) {
        int timers = 0;
        DWORD start = GetTickCount();
        do {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_TIMER && message.hwnd == mWindow && message.wParam == 0) ++timers;
                DispatchMessageW(&message);
            }
            Sleep(1);
        } while (GetTickCount() - start < milliseconds);
        return timers;
    }

    // Copies what the window shows into 0xRRGGBB pixels, whatever the screen's depth.
    void Capture() {
        mPixels.assign(size_t(mWidth) * size_t(mHeight), 0);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = mWidth;
        info.bmiHeader.biHeight = -mHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HDC screen = GetDC(mWindow);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, mWidth, mHeight, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const uint32_t* source = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; source && i < mPixels.size(); ++i) mPixels[i] = source[i] & 0xFFFFFF;
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(mWindow, screen);
    }
    uint32_t Pixel(int x, int y) const { return mPixels[size_t(y) * size_t(mWidth) + size_t(x)]; }

private:
    HWND mWindow = nullptr;
    int mWidth, mHeight;
    std::vector<uint32_t> mPixels;
};

bool IsFill(uint32_t p) { return Green(p) > 150 && Blue(p) > 200; }
bool IsEmptyTrack(uint32_t p) { return Green(p) < 120 && Blue(p) < 160; }

int CountPixels(const TestWindow& window, int left, int top, int right, int bottom, bool (*test)(uint32_t)) {
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) count += test(window.Pixel(x, y));
    return count;
}

bool IsWhite(uint32_t p) { return Red(p) > 200 && Green(p) > 200 && Blue(p) > 200; }

class WindowScreen : public ScreenTest {};

TEST_F(WindowScreen, TimerTicksReachTheHostWindowUntilStopped) {
    TestWindow window(320, 240);
    ASSERT_TRUE(window.IsValid());
    int32_t width = 0, height = 0;
    EXPECT_TRUE(GetClientSize(window.Handle(), &width, &height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    ASSERT_TRUE(StartWindowTimer(window.Handle(), 0, 1));
    EXPECT_GE(window.Pump(300), 5);
    EXPECT_TRUE(StopWindowTimer(window.Handle(), 0));
    EXPECT_EQ(window.Pump(100), 0);
    EXPECT_FALSE(StartWindowTimer(0, 0, 1));
}

// The default screen at progress 0.5 in a 640 x 480 window: the lower bar filled on its left
// half, the empty track on its right, and the two status texts in white above and on it.
TEST_F(WindowScreen, DefaultScreenShowsBarsAndTexts) {
    TestWindow window(640, 480);
    ASSERT_TRUE(window.IsValid());
    ScreenLoader loader(window.Handle());
    ASSERT_NE(loader.GetGdiRenderer(), nullptr);
    loader.SetProgress(0.5f);
    loader.Render();
    window.Capture();
    const int barTop = 480 - 122, row = barTop + 8;
    EXPECT_GE(CountPixels(window, 60, row, 140, row + 1, IsFill), 76) << std::hex << window.Pixel(60, row);
    EXPECT_GE(CountPixels(window, 540, row, 580, row + 1, IsEmptyTrack), 38) << std::hex << window.Pixel(540, row);
    EXPECT_GT(CountPixels(window, 220, barTop - 1, 420, barTop + 20, IsWhite), 30);
    EXPECT_GT(CountPixels(window, 220, barTop - 51, 420, barTop - 30, IsWhite), 30);
}

// The hosting facility registers "AtlAxWin90"; a hosting window without a Flash control (Wine
// has none) is not kept, so the loader draws its script screen.
TEST_F(WindowScreen, HostingWindowWithoutControlIsNotKept) {
    TestWindow window(320, 240);
    IFlashPlatform* platform = OwnFlashPlatform();
    platform->InitializeComponents();
    WNDCLASSEXW hosting = {};
    hosting.cbSize = sizeof hosting;
    EXPECT_TRUE(GetClassInfoExW(nullptr, L"AtlAxWin90", &hosting) || GetClassInfoExW(GetModuleHandleW(nullptr), L"AtlAxWin90", &hosting));
    EXPECT_EQ(platform->CreateHostingWindow(window.Handle(), kFlashHostWindowClass, kFlashControlClassId, 0, 0, 320, 240), 0u);
    EXPECT_EQ(platform->GetFirstChild(window.Handle()), 0u);
}

// The loading screen's procedure (cdecl) goes in front of a window's own and hands messages on
// to it; putting the old one back ends that.
int gSeen = 0;
intptr_t gPrevious = 0;
intptr_t CountingProcedure(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == WM_USER + 7) ++gSeen;
    return OwnFlashPlatform()->CallWindowProcedure(reinterpret_cast<FlashWindowProcedure>(gPrevious), window, message, wParam, lParam);
}

TEST_F(WindowScreen, WindowProcedureGoesInFrontAndBack) {
    TestWindow window(100, 100);
    IFlashPlatform* platform = OwnFlashPlatform();
    FlashWindowProcedure previous = platform->SetWindowProcedure(window.Handle(), &CountingProcedure);
    ASSERT_NE(previous, nullptr);
    gPrevious = reinterpret_cast<intptr_t>(previous);
    gSeen = 0;
    SendMessageW(window.Window(), WM_USER + 7, 0, 0);
    EXPECT_EQ(gSeen, 1);
    // The window's own procedure still answers through the chain.
    EXPECT_EQ(SendMessageW(window.Window(), WM_GETTEXTLENGTH, 0, 0), LRESULT(wcslen(L"screen test")));
    EXPECT_EQ(platform->SetWindowProcedure(window.Handle(), previous), &CountingProcedure);
    SendMessageW(window.Window(), WM_USER + 7, 0, 0);
    EXPECT_EQ(gSeen, 1);
    EXPECT_EQ(platform->SetWindowUserData(window.Handle(), 42), 0);
    EXPECT_EQ(platform->GetWindowUserData(window.Handle()), 42);
}

// The loading screen's assets are the module's own "VEXALRES" resources, and the lookup by file
// name hands out their bytes.
BOOL CALLBACK CountResource(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST(ModuleResources, AssetsAreVexalResResources) {
    int count = 0;
    EnumResourceNamesW(GetModuleHandleW(nullptr), L"VEXALRES", CountResource, reinterpret_cast<LONG_PTR>(&count));
    EXPECT_GE(count, 10);
    Buffer script;
    ASSERT_TRUE(LoadEmbeddedResource(u"LOADING-GDI.LUA", script));
    EXPECT_GT(script.GetSize(), 100u);
}

// The drawing layer itself: a family the system lacks still gives a font that draws, the
// alignments place text at the rectangle's far side, a GIF's frames and delays come through,
// and an image drawn past its size repeats mirrored.
TEST(GdiPlusDrawing, UnknownFamilyFallsBackAndAlignsFar) {
    GraphicsCanvas* canvas = CreateCanvas(200, 100);
    GraphicsFont* font = CreateFont(u"No Such Family 1234", 20.0f);
    ASSERT_NE(canvas, nullptr);
    ASSERT_NE(font, nullptr);
    EXPECT_GT(FontLineSpacing(font), 18.0f);
    EXPECT_GT(TextInkWidth(font, u"Loading"), 30.0f);
    EXPECT_FLOAT_EQ(TextInkWidth(font, u"  "), 0.0f);
    CanvasClear(canvas, 0xFF000000);
    CanvasDrawText(canvas, font, u"MM", 0, 0, 200, 100, kGraphicsAlignFar, kGraphicsAlignFar, 0xFFFFFFFF);
    int left = 0, right = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            if (IsWhite(CanvasPixel(canvas, x, y) & 0xFFFFFF)) ++(x < 100 || y < 50 ? left : right);
    EXPECT_EQ(left, 0);
    EXPECT_GT(right, 40);
    DestroyFont(font);
    DestroyCanvas(canvas);
}

TEST(GdiPlusDrawing, GifFramesAndDelays) {
    std::string gif = TwoFrameGif(7, 9);
    GraphicsImage* image = DecodeImage(reinterpret_cast<const uint8_t*>(gif.data()), uint32_t(gif.size()));
    ASSERT_EQ(ImageFrameCount(image), 2);
    ASSERT_NE(ImageFrameDelays(image), nullptr);
    EXPECT_EQ(ImageFrameDelays(image)[0], 7u);
    EXPECT_EQ(ImageFrameDelays(image)[1], 9u);
    EXPECT_EQ(ImagePixel(image, 0, 0), 0xFF000000u);
    SelectImageFrame(image, 1);
    EXPECT_EQ(ImagePixel(image, 0, 0), 0xFFFFFFFFu);
    DestroyImage(image);
    std::string junk = "GIF89a not really";
    image = DecodeImage(reinterpret_cast<const uint8_t*>(junk.data()), uint32_t(junk.size()));
    EXPECT_EQ(ImageFrameCount(image), 0);
    DestroyImage(image);
}

TEST(GdiPlusDrawing, ImagePastItsSizeRepeatsMirrored) {
    // A 2 x 1 BMP: red then blue (24-bit rows padded to 4 bytes).
    std::string bmp = SolidBmp(2, 1, 0xFF0000);
    ASSERT_GE(bmp.size(), 60u);
    bmp[54 + 3] = char(0xFF), bmp[54 + 4] = 0, bmp[54 + 5] = 0; // second pixel B, G, R
    GraphicsImage* image = DecodeImage(reinterpret_cast<const uint8_t*>(bmp.data()), uint32_t(bmp.size()));
    GraphicsCanvas* canvas = CreateCanvas(8, 2);
    ASSERT_EQ(ImageWidth(image), 2);
    CanvasDrawImage(canvas, image, 1, 0, 6, 2);
    const uint32_t red = 0xFFFF0000, blue = 0xFF0000FF;
    const uint32_t expected[8] = {0, red, blue, blue, red, red, blue, 0};
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(CanvasPixel(canvas, x, 0), expected[x]) << "x " << x;
        EXPECT_EQ(CanvasPixel(canvas, x, 1), expected[x]) << "x " << x << ", mirrored row";
    }
    DestroyCanvas(canvas);
    DestroyImage(image);
}

} // namespace
