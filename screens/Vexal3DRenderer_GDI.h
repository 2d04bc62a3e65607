// Vexal3DRenderer_GDI: the script-drawn loading screen. Scripts see it as the object _gdi of the
// class _GDI: they load fonts and images, set the background colour and hand it one render
// function, which every render pass calls to draw the frame.
#pragma once

#include "Common/Array.h"
#include "Common/Types.h"
#include "Source/Platform/Graphics.h"
#include "Source/Platform/Window.h"
#include "Source/Script/ScriptObject.h"

class Vexal3DLoader_Flash;
namespace Vexal {
class IScriptManager;
}

// One loaded image that carries frame delays (an animated GIF): which frame shows and for how
// much longer.
struct AnimatedImage {
    GraphicsImage* image;  // an element of mImages, not owned
    uint32_t* frameDelays; // owned copy of the delays, hundredths of a second, frameCount entries
    uint32_t currentFrame;
    uint32_t frameCount;
    uint32_t elapsed;      // milliseconds the current frame has shown
    uint32_t currentDelay; // milliseconds it shows: its delay x 10, or 50 for a delay of 0
};

// Handles of fonts and images are 1-based indexes into their lists, never reused; 0 is never a
// valid handle. Drawing and measuring work only inside a render pass (mGraphics set): outside one,
// or with a handle that is 0 or past the list, they do nothing and return 0. Colours are
// 0xAARRGGBB. Host's thread only (the thread that drives the script manager).
class Vexal3DRenderer_GDI final : public Vexal::ScriptObject {
public:
    // Binds the object to the class _GDI (which must be registered) with no field table of its
    // own. owner supplies the window and the progress figures; null for a renderer made by a
    // script, whose figures all read 0 and which is never given a render pass.
    explicit Vexal3DRenderer_GDI(Vexal3DLoader_Flash* owner);
    // Frees every font, image and delay list and the pass's pictures, then unbinds.
    ~Vexal3DRenderer_GDI() override;

    // Registers the script class _GDI (constants, properties, methods, the constructor new) in
    // the manager. Once per manager, before the first renderer is made.
    static void RegisterGdiClass(Vexal::IScriptManager* manager);

    // One frame: clears a picture of the window's client size to bgColor, calls the script's
    // render function (a script error ends only the function) and presents what was drawn.
    // Nothing happens while the client area is empty (no window, no display, minimised).
    void Render();
    // The two halves of a pass: drawing the frame off-screen (false when nothing was drawn) and
    // copying the last frame drawn to the window (false when it could not be shown).
    bool DrawFrame();
    bool PresentFrame();
    // Advances each animated image by at most one frame.
    void Animate(uint32_t elapsedMs);

    // What scripts reach through _gdi (also used by tests and tools).
    int32_t ClientWidth() const;
    int32_t ClientHeight() const;
    float Progress() const;
    float Speed() const;
    uint32_t ResCount() const;
    uint32_t FinishCount() const;
    uint32_t ResSize() const;
    uint32_t FinishSize() const;
    uint32_t GetBgColor() const { return mBgColor; }
    void SetBgColor(uint32_t colour) { mBgColor = colour; }
    void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
    void DrawRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t colour);
    void FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t colour);
    int32_t LoadFont(const WideChar* family, int32_t size);
    void DrawText(uint32_t font, const WideChar* text, int32_t left, int32_t top, int32_t right, int32_t bottom,
                  uint32_t flags, uint32_t colour);
    int32_t GetTextHeight(uint32_t font);
    int32_t GetTextWidth(uint32_t font, const WideChar* text);
    int32_t LoadImage(const WideChar* name);
    // parameterCount: how many parameters the script passed after the object (a nil counts);
    // up to 3 the width, up to 4 the height come from the image.
    void DrawImage(uint32_t image, int32_t x, int32_t y, int32_t width, int32_t height, int32_t parameterCount);
    int32_t GetImageHeight(uint32_t image);
    int32_t GetImageWidth(uint32_t image);
    // Stores parameter paramIndex of the current native call as the render function; anything
    // that is not a function removes the stored one.
    void OnRender(int32_t paramIndex);

    int32_t GetFontCount() const { return mFonts.GetCount(); }
    int32_t GetImageCount() const { return mImages.GetCount(); }
    GraphicsImage* GetImage(uint32_t handle) const;
    const Array<AnimatedImage>& GetAnimations() const { return mAnimations; }
    int32_t GetRenderCallback() const { return mRenderCallback; }
    // The picture of the last pass (kept for the next one); null before the first pass.
    GraphicsCanvas* GetLastFrame() const { return mFrame; }

    // --- fields, in this order ---
    Vexal3DLoader_Flash* mOwner; // not owned
    GraphicsCanvas* mGraphics;   // the surface of the pass in progress; null outside one
    uint32_t mBgColor;
    Array<GraphicsFont*> mFonts;   // owned; an entry may be null (a font that could not be made)
    Array<GraphicsImage*> mImages; // owned
    Array<AnimatedImage> mAnimations;
    int32_t mRenderCallback; // key of the stored render function; 0 = none

private:
    GraphicsFont* Font(uint32_t handle) const;
    // The picture for a pass of width x height: shared with the display when it can be, private
    // otherwise; kept while the size stays.
    GraphicsCanvas* FrameFor(int32_t width, int32_t height);
    void FreeFrame();

    WindowImage* mWindowImage;
    GraphicsCanvas* mFrame;
    bool mPresentFailureLogged; // a frame that could not be shown has been reported
};
