// A real X11 window for the loading-screen tests.
#include "TestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

TestWindow::TestWindow(int width, int height) : mWidth(width), mHeight(height) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    mDisplay = display;
    int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.event_mask = StructureNotifyMask;
    attributes.backing_store = Always;
    mWindow = XCreateWindow(display, RootWindow(display, screen), 0, 0, unsigned(width), unsigned(height), 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWEventMask | CWBackingStore,
                            &attributes);
    XMapWindow(display, mWindow);
    XEvent event;
    do XWindowEvent(display, mWindow, StructureNotifyMask, &event);
    while (event.type != MapNotify);
    XSync(display, False);
}

TestWindow::~TestWindow() {
    Display* display = static_cast<Display*>(mDisplay);
    if (!display) return;
    if (mWindow) XDestroyWindow(display, mWindow);
    XCloseDisplay(display);
}

void TestWindow::Resize(int width, int height) {
    Display* display = static_cast<Display*>(mDisplay);
    if (!display) return;
    XResizeWindow(display, mWindow, unsigned(width), unsigned(height));
    XSync(display, False);
    for (int i = 0; i < 200; ++i) {
        XWindowAttributes attributes;
        XGetWindowAttributes(display, mWindow, &attributes);
        if (attributes.width == width && attributes.height == height) break;
        XSync(display, False);
    }
    mWidth = width;
    mHeight = height;
}

void TestWindow::Capture() {
    Display* display = static_cast<Display*>(mDisplay);
    mPixels.assign(size_t(mWidth) * size_t(mHeight), 0);
    if (!display) return;
    XSync(display, False);
    XImage* image = XGetImage(display, mWindow, 0, 0, unsigned(mWidth), unsigned(mHeight), AllPlanes, ZPixmap);
    if (!image) return;
    for (int y = 0; y < mHeight; ++y)
        for (int x = 0; x < mWidth; ++x) mPixels[size_t(y) * mWidth + x] = uint32_t(XGetPixel(image, x, y)) & 0xFFFFFF;
    XDestroyImage(image);
}

uint32_t TestWindow::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= mWidth || y >= mHeight || mPixels.empty()) return 0;
    return mPixels[size_t(y) * mWidth + x];
}
