// The host's X11 window.
#include "HostWindow.h"

#include <X11/Xutil.h>
#include <cairo.h>

namespace {

// Protocol errors (a screenshot of a window that is not viewable, say) are reported where they
// matter instead of ending the process, which is Xlib's default.
int gLastXError = 0;
int RecordXError(Display*, XErrorEvent* event) {
    gLastXError = event->error_code;
    return 0;
}

// Position of the lowest set bit of a channel mask and the channel's width in bits.
void MaskShape(unsigned long mask, int& shift, int& bits) {
    shift = 0;
    bits = 0;
    if (mask == 0) return;
    while (((mask >> shift) & 1) == 0) ++shift;
    while (((mask >> (shift + bits)) & 1) != 0) ++bits;
}

uint32_t Channel(unsigned long pixel, int shift, int bits) {
    if (bits == 0) return 0;
    uint32_t value = uint32_t((pixel >> shift) & ((1ul << bits) - 1));
    return bits >= 8 ? value >> (bits - 8) : (value * 255u) / ((1u << bits) - 1);
}

} // namespace

HostWindow::~HostWindow() { Close(); }

bool HostWindow::Open(int32_t width, int32_t height, const char* title, std::string& error) {
    Close();
    // A busy server resets a new connection now and then: try again before giving up.
    for (int attempt = 0; attempt < 3 && mDisplay == nullptr; ++attempt) mDisplay = XOpenDisplay(nullptr);
    if (mDisplay == nullptr) {
        error = "no X display";
        return false;
    }
    XSetErrorHandler(RecordXError);
    int screen = DefaultScreen(mDisplay);
    mWindow = XCreateSimpleWindow(mDisplay, RootWindow(mDisplay, screen), 0, 0, unsigned(width), unsigned(height), 0,
                                  BlackPixel(mDisplay, screen), BlackPixel(mDisplay, screen));
    if (mWindow == 0) {
        error = "cannot create a window";
        Close();
        return false;
    }
    // Kept by the server where other windows cover it, so that a screenshot shows this window's
    // own contents (on a shared display without a window manager, others may lie on top).
    XSetWindowAttributes keep;
    keep.backing_store = Always;
    XChangeWindowAttributes(mDisplay, mWindow, CWBackingStore, &keep);
    XStoreName(mDisplay, mWindow, title);
    XSelectInput(mDisplay, mWindow,
                 ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                     ButtonReleaseMask | PointerMotionMask);
    mState = HostEventState();
    mState.mTimerAtom = XInternAtom(mDisplay, VEXAL_TIMER_ATOM_NAME, False);
    mState.mProtocolsAtom = XInternAtom(mDisplay, "WM_PROTOCOLS", False);
    mState.mDeleteAtom = XInternAtom(mDisplay, "WM_DELETE_WINDOW", False);
    mState.mWidth = width;
    mState.mHeight = height;
    XSetWMProtocols(mDisplay, mWindow, &mState.mDeleteAtom, 1);
    XMapWindow(mDisplay, mWindow);
    // Wait until the window is viewable so the loader's first drawing lands on screen.
    for (;;) {
        XEvent event;
        XWindowEvent(mDisplay, mWindow, StructureNotifyMask, &event);
        if (event.type == MapNotify) break;
        if (event.type == ConfigureNotify) {
            mState.mWidth = event.xconfigure.width;
            mState.mHeight = event.xconfigure.height;
        }
    }
    return true;
}

void HostWindow::Close() {
    if (mDisplay != nullptr) {
        if (mWindow != 0) XDestroyWindow(mDisplay, mWindow);
        XCloseDisplay(mDisplay);
    }
    mDisplay = nullptr;
    mWindow = 0;
}

int HostWindow::ConnectionFd() const { return mDisplay ? ConnectionNumber(mDisplay) : -1; }

void HostWindow::Pump(std::vector<HostMessage>& output) {
    if (mDisplay == nullptr) return;
    while (XPending(mDisplay) > 0) {
        XEvent event;
        XNextEvent(mDisplay, &event);
        TranslateEvent(event, mState, output);
    }
}

bool HostWindow::Screenshot(const std::string& path, std::string& error) {
    if (mDisplay == nullptr || mWindow == 0) {
        error = "no window";
        return false;
    }
    XSync(mDisplay, False);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(mDisplay, mWindow, &attributes) || attributes.map_state != IsViewable) {
        error = "the window is not viewable";
        return false;
    }
    gLastXError = 0;
    XImage* image = XGetImage(mDisplay, mWindow, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    XSync(mDisplay, False);
    if (image == nullptr || gLastXError != 0) {
        if (image) XDestroyImage(image);
        error = "cannot read the window contents";
        return false;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image->width, image->height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        XDestroyImage(image);
        error = "out of memory";
        return false;
    }
    int rShift, rBits, gShift, gBits, bShift, bBits;
    MaskShape(image->red_mask, rShift, rBits);
    MaskShape(image->green_mask, gShift, gBits);
    MaskShape(image->blue_mask, bShift, bBits);
    cairo_surface_flush(surface);
    uint8_t* rows = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < image->height; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(rows + size_t(y) * size_t(stride));
        for (int x = 0; x < image->width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            row[x] = 0xFF000000u | (Channel(pixel, rShift, rBits) << 16) | (Channel(pixel, gShift, gBits) << 8) |
                     Channel(pixel, bShift, bBits);
        }
    }
    cairo_surface_mark_dirty(surface);
    XDestroyImage(image);
    cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = std::string("cannot write ") + path + ": " + cairo_status_to_string(status);
        return false;
    }
    return true;
}
