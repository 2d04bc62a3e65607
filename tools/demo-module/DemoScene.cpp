// The demo game's animated scene.
#include "DemoScene.h"

#include <X11/Xlib.h>
#include <cairo-xlib.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kMaxRipples = 32;
constexpr size_t kMaxTyped = 40;

void Hue(cairo_t* cr, double hue, double alpha) {
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
    cairo_set_source_rgba(cr, 0.25 + 0.75 * r, 0.25 + 0.75 * g, 0.25 + 0.75 * b, alpha);
}

// Keeps protocol errors (a window that went away) from ending the host process.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

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
    if (mSurface != nullptr) cairo_xlib_surface_set_size(mSurface, width, height);
}

bool DemoScene::EnsureSurface() {
    if (mWindow == 0) return false;
    if (mDisplay == nullptr) {
        if (mDisplayTried) return false;
        mDisplayTried = true;
        // A busy server resets a new connection now and then: try again before giving up.
        for (int attempt = 0; attempt < 3 && mDisplay == nullptr; ++attempt) mDisplay = XOpenDisplay(nullptr);
        if (mDisplay == nullptr) return false;
        XSetErrorHandler(IgnoreXError);
    }
    if (mSurface == nullptr) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(mDisplay, Window(mWindow), &attributes)) return false;
        if (!mSizeKnown) {
            mWidth = attributes.width;
            mHeight = attributes.height;
            mSizeKnown = true;
        }
        mSurface = cairo_xlib_surface_create(mDisplay, Window(mWindow), attributes.visual, mWidth, mHeight);
        if (cairo_surface_status(mSurface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(mSurface);
            mSurface = nullptr;
            return false;
        }
    }
    return true;
}

void DemoScene::Draw() {
    if (!EnsureSurface() || mWidth <= 0 || mHeight <= 0) return;
    const double w = mWidth, h = mHeight, t = mTime;
    const double cx = w / 2, cy = h / 2, size = std::min(w, h);
    cairo_t* cr = cairo_create(mSurface);
    // Drawn off screen first so the window never shows a half-drawn frame.
    cairo_push_group(cr);

    cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgb(sky, 0, 0.05, 0.06, 0.15 + 0.05 * std::sin(t * 0.3));
    cairo_pattern_add_color_stop_rgb(sky, 1, 0.10, 0.02, 0.12);
    cairo_set_source(cr, sky);
    cairo_paint(cr);
    cairo_pattern_destroy(sky);

    // Orbiting rings of dots.
    for (int ring = 0; ring < 4; ++ring) {
        double radius = size * (0.12 + 0.08 * ring);
        int dots = 6 + ring * 4;
        for (int i = 0; i < dots; ++i) {
            double angle = t * (0.6 - 0.12 * ring) * (ring % 2 ? -1 : 1) + 2 * kPi * i / dots;
            double x = cx + radius * std::cos(angle), y = cy + radius * std::sin(angle);
            Hue(cr, t * 0.05 + double(i) / dots + ring * 0.2, 0.85);
            cairo_arc(cr, x, y, size * (0.008 + 0.004 * (3 - ring)), 0, 2 * kPi);
            cairo_fill(cr);
        }
    }

    // The spinning emblem in the middle.
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, t);
    double e = size * 0.09;
    cairo_move_to(cr, -e, -e);
    cairo_line_to(cr, 0, e);
    cairo_line_to(cr, e, -e);
    cairo_set_line_width(cr, e * 0.28);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    Hue(cr, t * 0.1, 1.0);
    cairo_stroke(cr);
    cairo_restore(cr);

    // The pointer: a halo that follows it.
    if (mMouseX >= 0) {
        cairo_pattern_t* halo = cairo_pattern_create_radial(mMouseX, mMouseY, 0, mMouseX, mMouseY, size * 0.08);
        cairo_pattern_add_color_stop_rgba(halo, 0, 1, 1, 1, 0.5);
        cairo_pattern_add_color_stop_rgba(halo, 1, 1, 1, 1, 0);
        cairo_set_source(cr, halo);
        cairo_arc(cr, mMouseX, mMouseY, size * 0.08, 0, 2 * kPi);
        cairo_fill(cr);
        cairo_pattern_destroy(halo);
    }
    for (const Ripple& ripple : mRipples) {
        double fade = 1.0 - ripple.age / 1.5;
        cairo_set_source_rgba(cr, 0.6, 0.9, 1.0, fade);
        cairo_set_line_width(cr, 3.0);
        cairo_arc(cr, ripple.x, ripple.y, 10 + ripple.age * size * 0.2, 0, 2 * kPi);
        cairo_stroke(cr);
    }

    char line[160];
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, std::max(14.0, size * 0.045));
    cairo_set_source_rgb(cr, 0.95, 0.95, 1.0);
    cairo_move_to(cr, 24, 24 + size * 0.045);
    cairo_show_text(cr, "Vexal3D demo game");
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, std::max(11.0, size * 0.025));
    snprintf(line, sizeof line, "%dx%d  spin %.2f%s  key %u  click: ripple, right click: reverse, space: pause",
             mWidth, mHeight, mSpin, mPaused ? " (paused)" : "", mLastKey);
    cairo_move_to(cr, 24, h - 24 - size * 0.035);
    cairo_show_text(cr, line);
    if (!mTyped.empty()) {
        cairo_move_to(cr, 24, h - 24);
        cairo_show_text(cr, mTyped.c_str());
    }

    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(mSurface);
    XFlush(mDisplay);
}

void DemoScene::Release() {
    if (mSurface != nullptr) cairo_surface_destroy(mSurface);
    mSurface = nullptr;
    if (mDisplay != nullptr) XCloseDisplay(mDisplay);
    mDisplay = nullptr;
    mDisplayTried = false;
}
