// The demo game's scene: an animated picture drawn into the host window, reacting to the mouse
// and keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DemoPainter.h"

class DemoScene {
public:
    DemoScene() = default;
    ~DemoScene();
    DemoScene(const DemoScene&) = delete;
    DemoScene& operator=(const DemoScene&) = delete;

    // Remembers the window (0: headless, nothing is ever drawn).
    void Attach(uintptr_t window) { mPainter.Attach(window); }
    // Advances the animation.
    void Advance(uint32_t elapsedMs);
    // Draws one frame at the window's current size. Makes the window drawable on first use;
    // without a window (or a display) it does nothing.
    void Draw();
    // Input: pointer position, clicks (left: a ripple, right: reverse the spin), keys (space
    // pauses, arrows change the speed), typed characters, a new client size.
    void MouseMove(int32_t x, int32_t y);
    void LeftClick(int32_t x, int32_t y);
    void RightClick();
    void Key(uint32_t virtualKey);
    void Character(uint32_t unit);
    void Resize(int32_t width, int32_t height);
    // Frees the drawing surfaces and the connection to the window system.
    void Release();

    int32_t GetWidth() const { return mWidth; }
    int32_t GetHeight() const { return mHeight; }

private:
    struct Ripple {
        double x, y, age;
    };

    DemoPainter mPainter;
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
