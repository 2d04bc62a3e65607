// Presenting pictures in X11 windows: XShmPutImage over a shared-memory image where the display
// offers MIT-SHM, XPutImage otherwise. One display connection of its own, opened on first need and
// used only by the thread that draws the loading screen.
#include "Source/Platform/Window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <new>

struct WindowImage {
    XImage* image;
    XShmSegmentInfo shm;
    bool shared;
    int32_t width;
    int32_t height;
};

namespace {

Display* gDisplay = _null;
bool gOpenTried = false;
bool gHasShm = false;
int gErrorCount = 0;
XErrorHandler gPreviousHandler = _null;
GC gGc = _null;
Window gGcWindow = 0;

// Errors on our connection (a window that went away, a refused shared segment) are counted and
// answered as failures; errors on other connections of the process go to the handler that was
// there before.
int OnXError(Display* display, XErrorEvent* event) {
    if (display == gDisplay) {
        ++gErrorCount;
        return 0;
    }
    return gPreviousHandler ? gPreviousHandler(display, event) : 0;
}

Display* PresentDisplay() {
    if (gOpenTried) return gDisplay;
    gOpenTried = true;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return _null;
    gDisplay = XOpenDisplay(_null);
    if (!gDisplay) return _null;
    gPreviousHandler = XSetErrorHandler(OnXError);
    int major = 0, minor = 0;
    Bool pixmaps = False;
    gHasShm = XShmQueryExtension(gDisplay) && XShmQueryVersion(gDisplay, &major, &minor, &pixmaps);
    return gDisplay;
}

// The screen's visual must hold 8-bit red, green and blue in the low 24 bits of 32-bit pixels,
// the layout of the pictures drawn here.
bool VisualMatches(Display* display) {
    Visual* visual = DefaultVisual(display, DefaultScreen(display));
    int depth = DefaultDepth(display, DefaultScreen(display));
    return (depth == 24 || depth == 32) && visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 &&
           visual->blue_mask == 0xFF;
}

bool AttachShared(Display* display, WindowImage* result, int32_t width, int32_t height) {
    int screen = DefaultScreen(display);
    XImage* image = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                                    _null, &result->shm, width, height);
    if (!image) return false;
    if (image->bits_per_pixel != 32) {
        XDestroyImage(image);
        return false;
    }
    result->shm.shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * height, IPC_CREAT | 0600);
    if (result->shm.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    result->shm.shmaddr = image->data = static_cast<char*>(shmat(result->shm.shmid, _null, 0));
    // Marked for removal at once: the segment goes away when both sides have detached.
    shmctl(result->shm.shmid, IPC_RMID, _null);
    if (result->shm.shmaddr == reinterpret_cast<char*>(-1)) {
        image->data = _null;
        XDestroyImage(image);
        return false;
    }
    result->shm.readOnly = False;
    int errors = gErrorCount;
    bool attached = XShmAttach(display, &result->shm);
    XSync(display, False);
    if (!attached || errors != gErrorCount) {
        shmdt(result->shm.shmaddr);
        image->data = _null;
        XDestroyImage(image);
        return false;
    }
    result->image = image;
    result->shared = true;
    return true;
}

bool CreatePlain(Display* display, WindowImage* result, int32_t width, int32_t height) {
    int screen = DefaultScreen(display);
    size_t stride = size_t(width) * 4;
    char* pixels = static_cast<char*>(std::calloc(size_t(height), stride));
    if (!pixels) return false;
    XImage* image = XCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap, 0,
                                 pixels, width, height, 32, int(stride));
    if (!image || image->bits_per_pixel != 32) {
        if (image) XDestroyImage(image);  // frees the pixels with it
        else std::free(pixels);
        return false;
    }
    result->image = image;
    result->shared = false;
    return true;
}

GC GcFor(Display* display, Window window) {
    if (gGc && gGcWindow == window) return gGc;
    if (gGc) XFreeGC(display, gGc);
    gGc = XCreateGC(display, window, 0, _null);
    gGcWindow = gGc ? window : 0;
    return gGc;
}

}  // namespace

WindowImage* CreateWindowImage(int32_t width, int32_t height) {
    Display* display = PresentDisplay();
    if (!display || width <= 0 || height <= 0 || width > 32767 || height > 32767 || !VisualMatches(display))
        return _null;
    WindowImage* result = new (std::nothrow) WindowImage{};
    if (!result) return _null;
    result->width = width;
    result->height = height;
    if ((gHasShm && AttachShared(display, result, width, height)) || CreatePlain(display, result, width, height))
        return result;
    delete result;
    return _null;
}

void DestroyWindowImage(WindowImage* image) {
    if (!image) return;
    if (image->shared) {
        XShmDetach(gDisplay, &image->shm);
        XSync(gDisplay, False);
        shmdt(image->shm.shmaddr);
        image->image->data = _null;
    }
    XDestroyImage(image->image);
    delete image;
}

int32_t WindowImageWidth(const WindowImage* image) { return image ? image->width : 0; }
int32_t WindowImageHeight(const WindowImage* image) { return image ? image->height : 0; }

uint8_t* WindowImagePixels(WindowImage* image, int32_t* stride) {
    if (!image) {
        if (stride) *stride = 0;
        return _null;
    }
    if (stride) *stride = image->image->bytes_per_line;
    return reinterpret_cast<uint8_t*>(image->image->data);
}

bool PresentWindowImage(NativeWindow window, WindowImage* image) {
    Display* display = PresentDisplay();
    if (!display || window == 0 || !image) return false;
    int errors = gErrorCount;
    GC gc = GcFor(display, Window(window));
    if (!gc || errors != gErrorCount) {
        gGcWindow = 0;
        return false;
    }
    if (image->shared) {
        XShmPutImage(display, Window(window), gc, image->image, 0, 0, 0, 0, unsigned(image->width),
                     unsigned(image->height), False);
    } else {
        XPutImage(display, Window(window), gc, image->image, 0, 0, 0, 0, unsigned(image->width),
                  unsigned(image->height));
    }
    // The display must have read the shared pixels before the next frame is drawn into them.
    XSync(display, False);
    if (errors != gErrorCount) {
        // The window may be gone; its graphics context goes with the next window.
        gGcWindow = 0;
        return false;
    }
    return true;
}
