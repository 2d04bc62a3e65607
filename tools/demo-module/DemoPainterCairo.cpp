// The demo's drawing on X11: Cairo over an Xlib surface of the host window, on a display
// connection of the module's own.
#include "DemoPainter.h"

#include <X11/Xlib.h>
#include <cairo-xlib.h>
#include <cairo.h>

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Keeps protocol errors (a window that went away) from ending the host process.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

void Source(cairo_t* cr, const DemoColor& color) { cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a); }

} // namespace

struct DemoPainter::State {
    Display* mDisplay = nullptr;
    cairo_surface_t* mSurface = nullptr;
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    cairo_t* mFrame = nullptr;
};

DemoPainter::DemoPainter() = default;

DemoPainter::~DemoPainter() { Release(); }

bool DemoPainter::Open() {
    if (mState != nullptr) return true;
    if (mWindow == 0 || mOpenTried) return false;
    mOpenTried = true;
    Display* display = nullptr;
    // A busy server resets a new connection now and then: try again before giving up.
    for (int attempt = 0; attempt < 3 && display == nullptr; ++attempt) display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XSetErrorHandler(IgnoreXError);
    mState = new State();
    mState->mDisplay = display;
    return true;
}

bool DemoPainter::WindowSize(int32_t& width, int32_t& height) {
    XWindowAttributes attributes;
    if (mState == nullptr || !XGetWindowAttributes(mState->mDisplay, Window(mWindow), &attributes)) return false;
    width = attributes.width;
    height = attributes.height;
    return true;
}

bool DemoPainter::Begin(int32_t width, int32_t height) {
    if (mState == nullptr || width <= 0 || height <= 0) return false;
    if (mState->mSurface == nullptr) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(mState->mDisplay, Window(mWindow), &attributes)) return false;
        mState->mSurface = cairo_xlib_surface_create(mState->mDisplay, Window(mWindow), attributes.visual, width, height);
        if (cairo_surface_status(mState->mSurface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(mState->mSurface);
            mState->mSurface = nullptr;
            return false;
        }
    } else if (width != mState->mWidth || height != mState->mHeight) {
        cairo_xlib_surface_set_size(mState->mSurface, width, height);
    }
    mState->mWidth = width;
    mState->mHeight = height;
    mState->mFrame = cairo_create(mState->mSurface);
    cairo_push_group(mState->mFrame);
    return true;
}

void DemoPainter::End() {
    cairo_t* cr = mState->mFrame;
    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
    cairo_destroy(cr);
    mState->mFrame = nullptr;
    cairo_surface_flush(mState->mSurface);
    XFlush(mState->mDisplay);
}

void DemoPainter::FillVertical(const DemoColor& top, const DemoColor& bottom) {
    cairo_t* cr = mState->mFrame;
    cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, mState->mHeight);
    cairo_pattern_add_color_stop_rgba(sky, 0, top.r, top.g, top.b, top.a);
    cairo_pattern_add_color_stop_rgba(sky, 1, bottom.r, bottom.g, bottom.b, bottom.a);
    cairo_set_source(cr, sky);
    cairo_paint(cr);
    cairo_pattern_destroy(sky);
}

void DemoPainter::FillCircle(double x, double y, double radius, const DemoColor& color) {
    cairo_t* cr = mState->mFrame;
    Source(cr, color);
    cairo_arc(cr, x, y, radius, 0, 2 * kPi);
    cairo_fill(cr);
}

void DemoPainter::FillHalo(double x, double y, double radius, const DemoColor& centre) {
    cairo_t* cr = mState->mFrame;
    cairo_pattern_t* halo = cairo_pattern_create_radial(x, y, 0, x, y, radius);
    cairo_pattern_add_color_stop_rgba(halo, 0, centre.r, centre.g, centre.b, centre.a);
    cairo_pattern_add_color_stop_rgba(halo, 1, centre.r, centre.g, centre.b, 0);
    cairo_set_source(cr, halo);
    cairo_arc(cr, x, y, radius, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(halo);
}

void DemoPainter::StrokeCircle(double x, double y, double radius, double width, const DemoColor& color) {
    cairo_t* cr = mState->mFrame;
    Source(cr, color);
    cairo_set_line_width(cr, width);
    cairo_arc(cr, x, y, radius, 0, 2 * kPi);
    cairo_stroke(cr);
}

void DemoPainter::StrokeLines(const double* points, int count, double width, const DemoColor& color) {
    if (count < 2) return;
    cairo_t* cr = mState->mFrame;
    cairo_move_to(cr, points[0], points[1]);
    for (int i = 1; i < count; ++i) cairo_line_to(cr, points[2 * i], points[2 * i + 1]);
    cairo_set_line_width(cr, width);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    Source(cr, color);
    cairo_stroke(cr);
}

void DemoPainter::Text(double x, double baseline, double size, bool bold, const DemoColor& color, const std::string& text) {
    cairo_t* cr = mState->mFrame;
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    Source(cr, color);
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, text.c_str());
}

void DemoPainter::Release() {
    if (mState != nullptr) {
        if (mState->mSurface != nullptr) cairo_surface_destroy(mState->mSurface);
        XCloseDisplay(mState->mDisplay);
        delete mState;
        mState = nullptr;
    }
    mOpenTried = false;
}
