// The demo game's animated scene.
#include "DemoScene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kMaxRipples = 32;
constexpr size_t kMaxTyped = 40;

DemoColor Hue(double hue, double alpha) {
    double h = std::fmod(hue, 1.0) * 6.0;
    double x = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
    double r = 0, g = 0, b = 0;
    if (h < 1) {
        r = 1;
        g = x;
    } else if (h < 2) {
        r = x;
        g = 1;
    } else if (h < 3) {
        g = 1;
        b = x;
    } else if (h < 4) {
        g = x;
        b = 1;
    } else if (h < 5) {
        r = x;
        b = 1;
    } else {
        r = 1;
        b = x;
    }
    return {0.25 + 0.75 * r, 0.25 + 0.75 * g, 0.25 + 0.75 * b, alpha};
}

} // namespace

DemoScene::~DemoScene() { Release(); }

void DemoScene::Advance(uint32_t elapsedMs) {
    double seconds = elapsedMs / 1000.0;
    if (!mPaused) mTime += seconds * mSpin;
    for (Ripple& ripple : mRipples) ripple.age += seconds;
    mRipples.erase(std::remove_if(mRipples.begin(), mRipples.end(), [](const Ripple& r) { return r.age > 1.5; }),
                   mRipples.end());
}

void DemoScene::MouseMove(int32_t x, int32_t y) {
    mMouseX = x;
    mMouseY = y;
}

void DemoScene::LeftClick(int32_t x, int32_t y) {
    if (mRipples.size() >= kMaxRipples) mRipples.erase(mRipples.begin());
    mRipples.push_back({double(x), double(y), 0.0});
}

void DemoScene::RightClick() { mSpin = -mSpin; }

void DemoScene::Key(uint32_t virtualKey) {
    mLastKey = virtualKey;
    if (virtualKey == 0x20) mPaused = !mPaused;                         // space
    else if (virtualKey == 0x26) mSpin = std::min(mSpin * 1.25, 8.0);   // up
    else if (virtualKey == 0x28) mSpin = std::max(mSpin / 1.25, 0.125); // down
    else if (virtualKey == 0x08 && !mTyped.empty()) mTyped.pop_back();  // backspace
}

void DemoScene::Character(uint32_t unit) {
    if (unit < 0x20 || unit > 0x7E) return;
    if (mTyped.size() >= kMaxTyped) mTyped.erase(mTyped.begin());
    mTyped.push_back(char(unit));
}

void DemoScene::Resize(int32_t width, int32_t height) {
    mWidth = width;
    mHeight = height;
    mSizeKnown = true;
}

void DemoScene::Draw() {
    if (!mPainter.Open()) return;
    if (!mSizeKnown) mSizeKnown = mPainter.WindowSize(mWidth, mHeight);
    if (!mSizeKnown || !mPainter.Begin(mWidth, mHeight)) return;
    const double w = mWidth, h = mHeight, t = mTime;
    const double cx = w / 2, cy = h / 2, size = std::min(w, h);

    mPainter.FillVertical({0.05, 0.06, 0.15 + 0.05 * std::sin(t * 0.3), 1.0}, {0.10, 0.02, 0.12, 1.0});

    // Orbiting rings of dots.
    for (int ring = 0; ring < 4; ++ring) {
        double radius = size * (0.12 + 0.08 * ring);
        int dots = 6 + ring * 4;
        for (int i = 0; i < dots; ++i) {
            double angle = t * (0.6 - 0.12 * ring) * (ring % 2 ? -1 : 1) + 2 * kPi * i / dots;
            double x = cx + radius * std::cos(angle), y = cy + radius * std::sin(angle);
            mPainter.FillCircle(x, y, size * (0.008 + 0.004 * (3 - ring)), Hue(t * 0.05 + double(i) / dots + ring * 0.2, 0.85));
        }
    }

    // The spinning emblem in the middle: a V turned by the time.
    const double e = size * 0.09, c = std::cos(t), s = std::sin(t);
    double emblem[6];
    const double corners[6] = {-e, -e, 0, e, e, -e};
    for (int i = 0; i < 3; ++i) {
        emblem[2 * i] = cx + corners[2 * i] * c - corners[2 * i + 1] * s;
        emblem[2 * i + 1] = cy + corners[2 * i] * s + corners[2 * i + 1] * c;
    }
    mPainter.StrokeLines(emblem, 3, e * 0.28, Hue(t * 0.1, 1.0));

    // The pointer: a halo that follows it.
    if (mMouseX >= 0) mPainter.FillHalo(mMouseX, mMouseY, size * 0.08, {1, 1, 1, 0.5});
    for (const Ripple& ripple : mRipples)
        mPainter.StrokeCircle(ripple.x, ripple.y, 10 + ripple.age * size * 0.2, 3.0, {0.6, 0.9, 1.0, 1.0 - ripple.age / 1.5});

    const DemoColor ink = {0.95, 0.95, 1.0, 1.0};
    mPainter.Text(24, 24 + size * 0.045, std::max(14.0, size * 0.045), true, ink, "Vexal3D demo game");
    char line[160];
    snprintf(line, sizeof line, "%dx%d  spin %.2f%s  key %u  click: ripple, right click: reverse, space: pause",
             mWidth, mHeight, mSpin, mPaused ? " (paused)" : "", mLastKey);
    const double small = std::max(11.0, size * 0.025);
    mPainter.Text(24, h - 24 - size * 0.035, small, false, ink, line);
    if (!mTyped.empty()) mPainter.Text(24, h - 24, small, false, ink, mTyped);

    mPainter.End();
}

void DemoScene::Release() { mPainter.Release(); }
