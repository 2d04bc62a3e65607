// The demo scene's drawing: each frame is painted off screen and shown in the host window in one
// piece, so the window never shows half a frame. One implementation per system: Cairo over Xlib
// (DemoPainterCairo.cpp) and GDI+ (DemoPainterGdiPlus.cpp).
#pragma once

#include <cstdint>
#include <string>

// Components from 0 to 1; alpha 1 is opaque.
struct DemoColor {
    double r, g, b, a;
};

class DemoPainter {
public:
    DemoPainter();
    // Frees everything, as Release does.
    ~DemoPainter();
    DemoPainter(const DemoPainter&) = delete;
    DemoPainter& operator=(const DemoPainter&) = delete;

    // The window to draw into (0: headless, nothing is ever drawn).
    void Attach(uintptr_t window) { mWindow = window; }
    // Makes the window drawable on first use (a display connection of its own on X11); false
    // without a window or when it cannot be drawn into. A failure is not retried.
    bool Open();
    // The window's client size as the system reports it; false when it cannot be asked.
    bool WindowSize(int32_t& width, int32_t& height);
    // Starts an off-screen frame of width x height; false when nothing can be drawn.
    bool Begin(int32_t width, int32_t height);
    // Shows the frame in the window.
    void End();

    // Drawing, antialiased, within Begin and End.
    void FillVertical(const DemoColor& top, const DemoColor& bottom);
    void FillCircle(double x, double y, double radius, const DemoColor& color);
    // A disc whose colour fades from centre to nothing at its rim.
    void FillHalo(double x, double y, double radius, const DemoColor& centre);
    void StrokeCircle(double x, double y, double radius, double width, const DemoColor& color);
    // A line through points (x, y pairs) with round joins and ends.
    void StrokeLines(const double* points, int count, double width, const DemoColor& color);
    // ASCII text in the system's sans-serif face, its baseline starting at (x, baseline).
    void Text(double x, double baseline, double size, bool bold, const DemoColor& color, const std::string& text);

    // Frees the drawing surfaces and the system's connection; Open may succeed again afterwards.
    void Release();

private:
    struct State;
    uintptr_t mWindow = 0;
    bool mOpenTried = false;
    State* mState = nullptr;
};
