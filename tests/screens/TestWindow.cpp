// A real X11 window for the loading-screen tests, and X servers of other depths.
#include "TestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/TestDisplay.h"

extern char** environ;

namespace {

// 0..255 from a channel of the window's pixel, whatever its width.
uint32_t Channel8(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    unsigned long maximum = mask >> shift;
    return uint32_t((((pixel & mask) >> shift) * 255 + maximum / 2) / maximum);
}

} // namespace

TestWindow::TestWindow(int width, int height, const char* displayName, int depth) : mWidth(width), mHeight(height) {
    if (!displayName) {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) return;
    }
    Display* display = OpenTestDisplay(displayName);
    if (!display) return;
    mDisplay = display;
    int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    int windowDepth = DefaultDepth(display, screen);
    XSetWindowAttributes attributes{};
    unsigned long mask = CWBackPixel | CWEventMask | CWBackingStore | CWBorderPixel;
    if (depth == 32) {
        XVisualInfo info;
        if (!XMatchVisualInfo(display, screen, 32, TrueColor, &info)) return;
        visual = info.visual;
        windowDepth = 32;
        mColormap = XCreateColormap(display, RootWindow(display, screen), visual, AllocNone);
        attributes.colormap = mColormap;
        mask |= CWColormap;
    }
    attributes.background_pixel = 0;
    attributes.border_pixel = 0;
    attributes.event_mask = StructureNotifyMask;
    attributes.backing_store = Always;
    mWindow = XCreateWindow(display, RootWindow(display, screen), 0, 0, unsigned(width), unsigned(height), 0,
                            windowDepth, InputOutput, visual, mask, &attributes);
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
    if (mColormap) XFreeColormap(display, mColormap);
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
    if (!display || !mWindow) return;
    XSync(display, False);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, mWindow, &attributes)) return;
    XImage* image = XGetImage(display, mWindow, 0, 0, unsigned(mWidth), unsigned(mHeight), AllPlanes, ZPixmap);
    if (!image) return;
    const Visual* visual = attributes.visual;
    for (int y = 0; y < mHeight; ++y)
        for (int x = 0; x < mWidth; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            mPixels[size_t(y) * mWidth + x] = Channel8(pixel, visual->red_mask) << 16 |
                                              Channel8(pixel, visual->green_mask) << 8 |
                                              Channel8(pixel, visual->blue_mask);
        }
    XDestroyImage(image);
}

uint32_t TestWindow::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= mWidth || y >= mHeight || mPixels.empty()) return 0;
    return mPixels[size_t(y) * mWidth + x];
}

ExtraDisplay::ExtraDisplay(int depth) {
    for (int number = 150; number < 250 && mName.empty(); ++number) {
        struct stat info;
        std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (stat(lock.c_str(), &info) == 0 || stat(socket.c_str(), &info) == 0) continue;
        std::string name = std::string(":") + std::to_string(number);
        std::string screen = "640x480x" + std::to_string(depth);
        const char* arguments[] = {"Xvfb", name.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t server = 0;
        int spawned = posix_spawnp(&server, "Xvfb", &actions, nullptr, const_cast<char* const*>(arguments), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return;
        // Ready when it takes a connection; a server that ends at once lost the number to another.
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (waitpid(server, nullptr, WNOHANG) == server) {
                server = 0;
                break;
            }
            if (Display* display = XOpenDisplay(name.c_str())) {
                XCloseDisplay(display);
                mServer = server;
                mName = name;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (mName.empty() && server != 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }
}

ExtraDisplay::~ExtraDisplay() {
    if (mServer == 0) return;
    kill(mServer, SIGTERM);
    waitpid(mServer, nullptr, 0);
}
