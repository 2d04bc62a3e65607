// The demo game's scene: an animated picture drawn into the host window with Cairo over Xlib,
// reacting to the mouse and keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct _XDisplay Display;
typedef struct _cairo_surface cairo_surface_t;

class DemoScene {
public:
    DemoScene() = default;
    ~DemoScene();
    DemoScene(const DemoScene&) = delete;
    DemoScene& operator=(const DemoScene&) = delete;

    // Remembers the window (0: headless, nothing is ever drawn).
    void Attach(uintptr_t window) { mWindow = window; }
    // Advances the animation.
    void Advance(uint32_t elapsedMs);
    // Draws one frame at the window's current size. Opens its own display connection on first
    // use; without a display or window it does nothing.
    void Draw();
    // Input: pointer position, clicks (left: a ripple, right: reverse the spin), keys (space
    // pauses, arrows change the speed), typed characters, a new client size.
    void MouseMove(int32_t x, int32_t y);
    void LeftClick(int32_t x, int32_t y);
    void RightClick();
    void Key(uint32_t virtualKey);
    void Character(uint32_t unit);
    void Resize(int32_t width, int32_t height);
    // Frees the drawing surfaces and closes the display connection.
    void Release();

    int32_t GetWidth() const { return mWidth; }
    int32_t GetHeight() const { return mHeight; }

private:
    bool EnsureSurface();

    struct Ripple {
        double x, y, age;
    };

    uintptr_t mWindow = 0;
    Display* mDisplay = nullptr;
    bool mDisplayTried = false;
    cairo_surface_t* mSurface = nullptr;
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    bool mSizeKnown = false;
    double mTime = 0.0;
    double mSpin = 1.0;
    bool mPaused = false;
    double mMouseX = -1.0;
    double mMouseY = -1.0;
    std::vector<Ripple> mRipples;
    std::string mTyped;
    uint32_t mLastKey = 0;
};
