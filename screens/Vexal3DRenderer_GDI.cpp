// Vexal3DRenderer_GDI: fonts, images, the render pass and the animation of the script-drawn
// loading screen. The script class and its dispatchers are in GdiScriptClass.cpp.
#include "screens/Vexal3DRenderer_GDI.h"

#include <cstdlib>

#include "Source/Common/Buffer.h"
#include "Source/Platform/Log.h"
#include "Source/Script/IScriptManager.h"
#include "screens/ScreenAsset.h"
#include "screens/ScreenTexts.h"
#include "screens/Vexal3DLoader_Flash.h"

namespace {

// The callback key of the render function on the object's table.
constexpr int32_t kRenderCallbackKey = 64;
constexpr uint32_t kOpaqueBlack = 0xFF000000;
constexpr uint32_t kZeroDelayMs = 50;

uint32_t FrameDelayMs(uint32_t hundredths) { return hundredths ? hundredths * 10 : kZeroDelayMs; }

} // namespace

Vexal3DRenderer_GDI::Vexal3DRenderer_GDI(Vexal3DLoader_Flash* owner)
    : mOwner(owner), mGraphics(_null), mBgColor(kOpaqueBlack), mRenderCallback(0), mWindowImage(_null),
      mFrame(_null), mPresentFailureLogged(false) {
    if (Vexal::IScriptManager* manager = Vexal::GetScriptManager())
        manager->BindObject(ScreenText::kGdiClass, this, false);
}

Vexal3DRenderer_GDI::~Vexal3DRenderer_GDI() {
    for (GraphicsFont* font : mFonts) DestroyFont(font);
    for (GraphicsImage* image : mImages) DestroyImage(image);
    for (AnimatedImage& animation : mAnimations) std::free(animation.frameDelays);
    mGraphics = _null;
    FreeFrame();
}

// ------------------------------------------------------------------------------------------------
// Figures of the owner

int32_t Vexal3DRenderer_GDI::ClientWidth() const {
    int32_t width = 0, height = 0;
    if (mOwner) GetClientSize(NativeWindow(mOwner->GetHostWindow()), &width, &height);
    return width;
}

int32_t Vexal3DRenderer_GDI::ClientHeight() const {
    int32_t width = 0, height = 0;
    if (mOwner) GetClientSize(NativeWindow(mOwner->GetHostWindow()), &width, &height);
    return height;
}

float Vexal3DRenderer_GDI::Progress() const { return mOwner ? mOwner->GetProgress() : 0.0f; }
float Vexal3DRenderer_GDI::Speed() const { return mOwner ? mOwner->GetSpeed() : 0.0f; }
uint32_t Vexal3DRenderer_GDI::ResCount() const { return mOwner ? uint32_t(mOwner->GetResCount()) : 0; }
uint32_t Vexal3DRenderer_GDI::FinishCount() const { return mOwner ? uint32_t(mOwner->GetFinishCount()) : 0; }
uint32_t Vexal3DRenderer_GDI::ResSize() const { return mOwner ? uint32_t(mOwner->GetResSize()) : 0; }
uint32_t Vexal3DRenderer_GDI::FinishSize() const { return mOwner ? uint32_t(mOwner->GetFinishSize()) : 0; }

// ------------------------------------------------------------------------------------------------
// The render pass

void Vexal3DRenderer_GDI::FreeFrame() {
    DestroyCanvas(mFrame);
    mFrame = _null;
    DestroyWindowImage(mWindowImage);
    mWindowImage = _null;
}

GraphicsCanvas* Vexal3DRenderer_GDI::FrameFor(int32_t width, int32_t height) {
    if (mFrame && CanvasWidth(mFrame) == width && CanvasHeight(mFrame) == height) return mFrame;
    FreeFrame();
    mWindowImage = CreateWindowImage(NativeWindow(mOwner->GetHostWindow()), width, height);
    if (mWindowImage) {
        int32_t stride = 0;
        uint8_t* pixels = WindowImagePixels(mWindowImage, &stride);
        mFrame = CreateCanvasOnPixels(pixels, width, height, stride);
    }
    if (!mFrame) {
        // The display cannot take this picture; the script still runs on a private one.
        DestroyWindowImage(mWindowImage);
        mWindowImage = _null;
        mFrame = CreateCanvas(width, height);
    }
    return mFrame;
}

void Vexal3DRenderer_GDI::Render() {
    if (DrawFrame()) PresentFrame();
}

bool Vexal3DRenderer_GDI::DrawFrame() {
    if (!mOwner || mGraphics) return false;
    int32_t width = 0, height = 0;
    GetClientSize(NativeWindow(mOwner->GetHostWindow()), &width, &height);
    // An empty client area has nothing to show; running the script then would also let it fit
    // its layout to a zero-sized window for good (the default script's bars never grow back).
    if (width <= 0 || height <= 0) return false;
    GraphicsCanvas* canvas = FrameFor(width, height);
    if (!canvas) return false;
    mGraphics = canvas;
    // A fresh bitmap is opaque black; the background colour goes over it.
    CanvasClear(canvas, kOpaqueBlack);
    CanvasFillRect(canvas, 0, 0, width, height, mBgColor);
    if (mRenderCallback != 0) {
        if (Vexal::IScriptManager* manager = Vexal::FindScriptManager())
            manager->CallFunction(this, mRenderCallback, static_cast<Variable*>(_null));
    }
    CanvasPixels(canvas, _null); // every drawing call has reached the pixels
    mGraphics = _null;
    return true;
}

bool Vexal3DRenderer_GDI::PresentFrame() {
    if (!mOwner) return false;
    NativeWindow window = NativeWindow(mOwner->GetHostWindow());
    if (mWindowImage && PresentWindowImage(window, mWindowImage)) return true;
    // The player would see a black window for the whole load: said once, not at every frame.
    if (!mPresentFailureLogged) {
        mPresentFailureLogged = true;
        LogTrace(ScreenText::kPresentFailed, unsigned(window), CanvasWidth(mFrame), CanvasHeight(mFrame));
    }
    return false;
}

void Vexal3DRenderer_GDI::Animate(uint32_t elapsedMs) {
    for (AnimatedImage& animation : mAnimations) {
        animation.elapsed += elapsedMs;
        if (animation.elapsed < animation.currentDelay || animation.frameCount == 0) continue;
        animation.elapsed = 0;
        animation.currentFrame = (animation.currentFrame + 1) % animation.frameCount;
        SelectImageFrame(animation.image, int32_t(animation.currentFrame));
        animation.currentDelay = FrameDelayMs(animation.frameDelays[animation.currentFrame]);
    }
}

// ------------------------------------------------------------------------------------------------
// Drawing and measuring

GraphicsFont* Vexal3DRenderer_GDI::Font(uint32_t handle) const {
    if (handle - 1 >= uint32_t(mFonts.GetCount())) return _null;
    return mFonts[int32_t(handle - 1)];
}

GraphicsImage* Vexal3DRenderer_GDI::GetImage(uint32_t handle) const {
    if (handle - 1 >= uint32_t(mImages.GetCount())) return _null;
    return mImages[int32_t(handle - 1)];
}

void Vexal3DRenderer_GDI::DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    CanvasDrawLine(mGraphics, x1, y1, x2, y2, colour);
}

void Vexal3DRenderer_GDI::DrawRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t colour) {
    CanvasDrawRect(mGraphics, left, top, right - left, bottom - top, colour);
}

void Vexal3DRenderer_GDI::FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t colour) {
    CanvasFillRect(mGraphics, left, top, right - left, bottom - top, colour);
}

int32_t Vexal3DRenderer_GDI::LoadFont(const WideChar* family, int32_t size) {
    // Kept even when it could not be made, so handles stay in step with the script's calls.
    mFonts.Append(CreateFont(family, float(size)));
    return mFonts.GetCount();
}

void Vexal3DRenderer_GDI::DrawText(uint32_t font, const WideChar* text, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom, uint32_t flags, uint32_t colour) {
    GraphicsFont* graphicsFont = Font(font);
    if (!mGraphics || !graphicsFont) return;
    GraphicsAlign horizontal = (flags & 2)   ? kGraphicsAlignFar
                               : (flags & 1) ? kGraphicsAlignCenter
                                             : kGraphicsAlignNear;
    GraphicsAlign vertical = (flags & 32)   ? kGraphicsAlignFar
                             : (flags & 16) ? kGraphicsAlignCenter
                                            : kGraphicsAlignNear;
    CanvasDrawText(mGraphics, graphicsFont, text, left, top, double(right) - double(left),
                   double(bottom) - double(top), horizontal, vertical, colour);
}

int32_t Vexal3DRenderer_GDI::GetTextHeight(uint32_t font) {
    GraphicsFont* graphicsFont = Font(font);
    if (!mGraphics || !graphicsFont) return 0;
    return int32_t(FontLineSpacing(graphicsFont));
}

int32_t Vexal3DRenderer_GDI::GetTextWidth(uint32_t font, const WideChar* text) {
    GraphicsFont* graphicsFont = Font(font);
    if (!mGraphics || !graphicsFont) return 0;
    return int32_t(TextInkWidth(graphicsFont, text));
}

int32_t Vexal3DRenderer_GDI::LoadImage(const WideChar* name) {
    Buffer bytes;
    if (!ReadScreenAsset(name, bytes)) return 0;
    GraphicsImage* image = DecodeImage(bytes.GetData(), bytes.GetSize());
    if (!image || !mImages.Append(image)) {
        DestroyImage(image);
        return 0;
    }
    const uint32_t* delays = ImageFrameDelays(image);
    int32_t frames = ImageFrameCount(image);
    if (delays && frames > 0) {
        uint32_t* copy = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * size_t(frames)));
        if (copy) {
            for (int32_t i = 0; i < frames; ++i) copy[i] = delays[i];
            AnimatedImage animation{image, copy, 0, uint32_t(frames), 0, FrameDelayMs(copy[0])};
            if (!mAnimations.Append(animation)) std::free(copy);
        }
    }
    return mImages.GetCount();
}

void Vexal3DRenderer_GDI::DrawImage(uint32_t image, int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t parameterCount) {
    GraphicsImage* graphicsImage = GetImage(image);
    if (!mGraphics || !graphicsImage) return;
    if (parameterCount <= 3) width = ImageWidth(graphicsImage);
    if (parameterCount <= 4) height = ImageHeight(graphicsImage);
    if (width != 0 && height != 0) CanvasDrawImage(mGraphics, graphicsImage, x, y, width, height);
}

int32_t Vexal3DRenderer_GDI::GetImageHeight(uint32_t image) {
    GraphicsImage* graphicsImage = GetImage(image);
    return mGraphics && graphicsImage ? ImageHeight(graphicsImage) : 0;
}

int32_t Vexal3DRenderer_GDI::GetImageWidth(uint32_t image) {
    GraphicsImage* graphicsImage = GetImage(image);
    return mGraphics && graphicsImage ? ImageWidth(graphicsImage) : 0;
}

void Vexal3DRenderer_GDI::OnRender(int32_t paramIndex) {
    Vexal::IScriptManager* manager = Vexal::FindScriptManager();
    if (!manager) return;
    if (mRenderCallback != 0) manager->ClearObjectCallback(this, &mRenderCallback);
    mRenderCallback = manager->SetObjectCallback(this, kRenderCallbackKey, paramIndex);
}
