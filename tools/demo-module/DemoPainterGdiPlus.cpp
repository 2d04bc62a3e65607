// The demo's drawing on Windows: GDI+ (started by the host, as for the loader) paints into a DIB
// section of a memory device context, and one block transfer shows it in the host window.
#include "DemoPainter.h"

#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

ARGB ToArgb(const DemoColor& color) {
    auto byte = [](double value) { return ARGB(std::clamp(value, 0.0, 1.0) * 255.0 + 0.5); };
    return byte(color.a) << 24 | byte(color.r) << 16 | byte(color.g) << 8 | byte(color.b);
}

std::wstring WideAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

} // namespace

struct DemoPainter::State {
    HDC mMemory = nullptr;
    HBITMAP mBitmap = nullptr;
    HGDIOBJ mPrevious = nullptr;
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    GpGraphics* mFrame = nullptr;
    GpFontFamily* mFamily = nullptr;
};

DemoPainter::DemoPainter() = default;

DemoPainter::~DemoPainter() { Release(); }

bool DemoPainter::Open() {
    if (mState != nullptr) return true;
    if (mWindow == 0 || mOpenTried) return false;
    mOpenTried = true;
    if (!IsWindow(reinterpret_cast<HWND>(mWindow))) return false;
    mState = new State();
    // Arial where it exists (Liberation Sans stands in under Wine), else the system's sans-serif.
    if (GdipCreateFontFamilyFromName(L"Arial", nullptr, &mState->mFamily) != Ok) {
        GpFontFamily* generic = nullptr;
        if (GdipGetGenericFontFamilySansSerif(&generic) == Ok) GdipCloneFontFamily(generic, &mState->mFamily);
    }
    return true;
}

bool DemoPainter::WindowSize(int32_t& width, int32_t& height) {
    RECT client;
    if (mState == nullptr || !GetClientRect(reinterpret_cast<HWND>(mWindow), &client)) return false;
    width = client.right - client.left;
    height = client.bottom - client.top;
    return true;
}

bool DemoPainter::Begin(int32_t width, int32_t height) {
    if (mState == nullptr || width <= 0 || height <= 0) return false;
    if (mState->mBitmap == nullptr || width != mState->mWidth || height != mState->mHeight) {
        if (mState->mMemory == nullptr) mState->mMemory = CreateCompatibleDC(nullptr);
        if (mState->mMemory == nullptr) return false;
        if (mState->mBitmap != nullptr) {
            SelectObject(mState->mMemory, mState->mPrevious);
            DeleteObject(mState->mBitmap);
            mState->mBitmap = nullptr;
        }
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        mState->mBitmap = CreateDIBSection(mState->mMemory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (mState->mBitmap == nullptr) return false;
        mState->mPrevious = SelectObject(mState->mMemory, mState->mBitmap);
        mState->mWidth = width;
        mState->mHeight = height;
    }
    if (GdipCreateFromHDC(mState->mMemory, &mState->mFrame) != Ok) {
        mState->mFrame = nullptr;
        return false;
    }
    GdipSetSmoothingMode(mState->mFrame, SmoothingModeAntiAlias);
    GdipSetTextRenderingHint(mState->mFrame, TextRenderingHintAntiAlias);
    return true;
}

void DemoPainter::End() {
    GdipDeleteGraphics(mState->mFrame);
    mState->mFrame = nullptr;
    GdiFlush();
    HWND window = reinterpret_cast<HWND>(mWindow);
    if (HDC screen = GetDC(window)) {
        BitBlt(screen, 0, 0, mState->mWidth, mState->mHeight, mState->mMemory, 0, 0, SRCCOPY);
        ReleaseDC(window, screen);
    }
}

void DemoPainter::FillVertical(const DemoColor& top, const DemoColor& bottom) {
    // One pixel beyond each edge: the gradient's ends are then the given colours exactly.
    GpPointF from = {0.0f, -1.0f}, to = {0.0f, float(mState->mHeight) + 1.0f};
    GpLineGradient* sky = nullptr;
    if (GdipCreateLineBrush(&from, &to, ToArgb(top), ToArgb(bottom), WrapModeTileFlipXY, &sky) != Ok) return;
    GdipFillRectangleI(mState->mFrame, sky, 0, 0, mState->mWidth, mState->mHeight);
    GdipDeleteBrush(sky);
}

void DemoPainter::FillCircle(double x, double y, double radius, const DemoColor& color) {
    GpSolidFill* brush = nullptr;
    if (GdipCreateSolidFill(ToArgb(color), &brush) != Ok) return;
    GdipFillEllipse(mState->mFrame, brush, float(x - radius), float(y - radius), float(2 * radius), float(2 * radius));
    GdipDeleteBrush(brush);
}

void DemoPainter::FillHalo(double x, double y, double radius, const DemoColor& centre) {
    GpPath* path = nullptr;
    if (GdipCreatePath(FillModeAlternate, &path) != Ok) return;
    GdipAddPathEllipse(path, float(x - radius), float(y - radius), float(2 * radius), float(2 * radius));
    GpPathGradient* halo = nullptr;
    if (GdipCreatePathGradientFromPath(path, &halo) == Ok) {
        ARGB rim = ToArgb(centre) & 0x00FFFFFF;
        INT count = 1;
        GdipSetPathGradientCenterColor(halo, ToArgb(centre));
        GdipSetPathGradientSurroundColorsWithCount(halo, &rim, &count);
        GdipFillPath(mState->mFrame, halo, path);
        GdipDeleteBrush(halo);
    }
    GdipDeletePath(path);
}

void DemoPainter::StrokeCircle(double x, double y, double radius, double width, const DemoColor& color) {
    GpPen* pen = nullptr;
    if (GdipCreatePen1(ToArgb(color), float(width), UnitPixel, &pen) != Ok) return;
    GdipDrawEllipse(mState->mFrame, pen, float(x - radius), float(y - radius), float(2 * radius), float(2 * radius));
    GdipDeletePen(pen);
}

void DemoPainter::StrokeLines(const double* points, int count, double width, const DemoColor& color) {
    if (count < 2) return;
    GpPen* pen = nullptr;
    if (GdipCreatePen1(ToArgb(color), float(width), UnitPixel, &pen) != Ok) return;
    GdipSetPenLineJoin(pen, LineJoinRound);
    GdipSetPenStartCap(pen, LineCapRound);
    GdipSetPenEndCap(pen, LineCapRound);
    std::vector<GpPointF> line(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) line[size_t(i)] = {float(points[2 * i]), float(points[2 * i + 1])};
    GdipDrawLines(mState->mFrame, pen, line.data(), count);
    GdipDeletePen(pen);
}

void DemoPainter::Text(double x, double baseline, double size, bool bold, const DemoColor& color, const std::string& text) {
    if (mState->mFamily == nullptr) return;
    const INT style = bold ? FontStyleBold : FontStyleRegular;
    GpFont* font = nullptr;
    if (GdipCreateFont(mState->mFamily, float(size), style, UnitPixel, &font) != Ok) return;
    // GDI+ places text by the top of its line: the baseline lies the font's ascent below it.
    UINT16 ascent = 0, em = 0;
    GdipGetCellAscent(mState->mFamily, style, &ascent);
    GdipGetEmHeight(mState->mFamily, style, &em);
    const double top = baseline - (em > 0 ? size * ascent / em : size);
    GpSolidFill* brush = nullptr;
    if (GdipCreateSolidFill(ToArgb(color), &brush) == Ok) {
        std::wstring wide = WideAscii(text);
        RectF layout = {float(x), float(top), 0.0f, 0.0f};
        GdipDrawString(mState->mFrame, wide.c_str(), INT(wide.size()), font, &layout, nullptr, brush);
        GdipDeleteBrush(brush);
    }
    GdipDeleteFont(font);
}

void DemoPainter::Release() {
    if (mState != nullptr) {
        if (mState->mBitmap != nullptr) {
            SelectObject(mState->mMemory, mState->mPrevious);
            DeleteObject(mState->mBitmap);
        }
        if (mState->mMemory != nullptr) DeleteDC(mState->mMemory);
        if (mState->mFamily != nullptr) GdipDeleteFontFamily(mState->mFamily);
        delete mState;
        mState = nullptr;
    }
    mOpenTried = false;
}
