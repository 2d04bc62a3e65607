// Presenting pictures in X11 windows, in each window's own visual and depth: XShmPutImage over a
// shared-memory image where the display offers MIT-SHM, XPutImage otherwise. Windows whose pixels
// are 8-bit red, green and blue in 32 bits take the drawn pixels as they are; other true-colour
// windows get them converted at each present. One display connection of its own, opened on
// first need and used only by the thread that draws the loading screen.
#include "Source/Platform/Window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "Source/Platform/linux/XConnections.h"

namespace {

// One 8-bit colour channel in the window's pixels: for each value 0..255, its bits in place
// (the nearest value the channel's width holds, at its position in the pixel). All 0 for a
// channel the window does not have.
typedef uint32_t ChannelTable[256];

void FillChannel(ChannelTable table, unsigned long mask) {
    uint32_t bits = uint32_t(mask);
    int shift = 0;
    while (bits != 0 && !((bits >> shift) & 1)) ++shift;
    uint32_t maximum = bits >> shift;
    for (uint32_t value = 0; value < 256; ++value)
        table[value] = bits == 0 ? 0 : ((value * maximum + 127) / 255) << shift;
}

} // namespace

struct WindowImage {
    XImage* image; // in the window's format; its pixels are the drawn ones when `direct`
    XShmSegmentInfo shm;
    bool shared;
    bool direct;
    uint8_t* pixels; // the drawn ARGB pixels (owned here unless `direct`)
    int32_t stride;
    int32_t width;
    int32_t height;
    ChannelTable red, green, blue, alpha; // for converting, when not `direct`
};

namespace {

OwnConnection gConnection;
bool gHasShm = false;
GC gGc = _null;
Window gGcWindow = 0;

Display* PresentDisplay() {
    bool opened = false;
    Display* display = gConnection.Get(&opened);
    if (!opened) return display;
    int major = 0, minor = 0;
    Bool pixmaps = False;
    gHasShm = XShmQueryExtension(display) && XShmQueryVersion(display, &major, &minor, &pixmaps);
    return display;
}

// Xlib's name for this machine's byte order.
constexpr int kNativeByteOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst;

// The drawn pixels can be the window's own: 8-bit channels where the drawing has them, 32 bits
// a pixel, in this machine's byte order.
bool TakesDrawnPixels(const XImage* image) {
    return image->bits_per_pixel == 32 && image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
           image->blue_mask == 0xFF && image->byte_order == kNativeByteOrder;
}

XImage* CreateShared(Display* display, const XWindowAttributes& window, XShmSegmentInfo* shm, int32_t width,
                     int32_t height) {
    XImage* image = XShmCreateImage(display, window.visual, unsigned(window.depth), ZPixmap, _null, shm,
                                    unsigned(width), unsigned(height));
    if (!image) return _null;
    shm->shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * size_t(height), IPC_CREAT | 0600);
    if (shm->shmid < 0) {
        XDestroyImage(image);
        return _null;
    }
    shm->shmaddr = image->data = static_cast<char*>(shmat(shm->shmid, _null, 0));
    // Marked for removal at once: the segment goes away when both sides have detached.
    shmctl(shm->shmid, IPC_RMID, _null);
    if (shm->shmaddr == reinterpret_cast<char*>(-1)) {
        image->data = _null;
        XDestroyImage(image);
        return _null;
    }
    shm->readOnly = False;
    int errors = OwnDisplayErrors(display);
    bool attached = XShmAttach(display, shm);
    XSync(display, False);
    if (!attached || errors != OwnDisplayErrors(display)) {
        shmdt(shm->shmaddr);
        image->data = _null;
        XDestroyImage(image);
        return _null;
    }
    return image;
}

XImage* CreatePlain(Display* display, const XWindowAttributes& window, int32_t width, int32_t height) {
    XImage* image = XCreateImage(display, window.visual, unsigned(window.depth), ZPixmap, 0, _null, unsigned(width),
                                 unsigned(height), 32, 0);
    if (!image) return _null;
    image->data = static_cast<char*>(std::calloc(size_t(height), size_t(image->bytes_per_line)));
    if (!image->data) {
        XDestroyImage(image);
        return _null;
    }
    return image;
}

// The drawn pixels in the window's format: one row at a time, with the common pixel sizes
// written directly and any other through Xlib.
void Convert(WindowImage* target) {
    XImage* image = target->image;
    const bool native = image->byte_order == kNativeByteOrder;
    const int bits = native ? image->bits_per_pixel : 0;
    for (int32_t y = 0; y < target->height; ++y) {
        const uint32_t* in = reinterpret_cast<const uint32_t*>(target->pixels + size_t(y) * size_t(target->stride));
        char* row = image->data + size_t(y) * size_t(image->bytes_per_line);
        for (int32_t x = 0; x < target->width; ++x) {
            uint32_t argb = in[x];
            uint32_t pixel = target->red[(argb >> 16) & 0xFF] | target->green[(argb >> 8) & 0xFF] |
                             target->blue[argb & 0xFF] | target->alpha[argb >> 24];
            if (bits == 32) {
                std::memcpy(row + size_t(x) * 4, &pixel, 4);
            } else if (bits == 16) {
                uint16_t narrow = uint16_t(pixel);
                std::memcpy(row + size_t(x) * 2, &narrow, 2);
            } else {
                XPutPixel(image, x, y, pixel);
            }
        }
    }
}

GC GcFor(Display* display, Window window) {
    if (gGc && gGcWindow == window) return gGc;
    if (gGc) XFreeGC(display, gGc);
    gGc = XCreateGC(display, window, 0, _null);
    gGcWindow = gGc ? window : 0;
    return gGc;
}

} // namespace

void ClosePresentDisplay() {
    if (gConnection.Current() && gGc) XFreeGC(gConnection.Current(), gGc);
    gConnection.Close();
    gHasShm = false;
    gGc = _null;
    gGcWindow = 0;
}

WindowImage* CreateWindowImage(NativeWindow window, int32_t width, int32_t height) {
    // A headless host (window 0) never costs a connection attempt.
    if (window == 0 || width <= 0 || height <= 0 || width > 32767 || height > 32767) return _null;
    Display* display = PresentDisplay();
    if (!display) return _null;
    XWindowAttributes attributes;
    int errors = OwnDisplayErrors(display);
    if (XGetWindowAttributes(display, Window(window), &attributes) == 0 || errors != OwnDisplayErrors(display))
        return _null;
    // Only visuals whose pixels carry their colour directly can show the picture.
    if (!attributes.visual || attributes.visual->c_class != TrueColor) return _null;
    WindowImage* result = new (std::nothrow) WindowImage{};
    if (!result) return _null;
    result->width = width;
    result->height = height;
    if (gHasShm) {
        result->image = CreateShared(display, attributes, &result->shm, width, height);
        result->shared = result->image != _null;
    }
    if (!result->image) result->image = CreatePlain(display, attributes, width, height);
    if (!result->image) {
        delete result;
        return _null;
    }
    XImage* image = result->image;
    result->direct = TakesDrawnPixels(image);
    if (result->direct) {
        result->pixels = reinterpret_cast<uint8_t*>(image->data);
        result->stride = image->bytes_per_line;
    } else {
        FillChannel(result->red, image->red_mask);
        FillChannel(result->green, image->green_mask);
        FillChannel(result->blue, image->blue_mask);
        // The bits of the depth that no colour takes are the alpha channel (32-bit ARGB visuals).
        unsigned long alpha = 0;
        if (attributes.depth == 32 && image->bits_per_pixel == 32)
            alpha = ~(image->red_mask | image->green_mask | image->blue_mask) & 0xFFFFFFFFul;
        FillChannel(result->alpha, alpha);
        result->stride = width * 4;
        result->pixels = static_cast<uint8_t*>(std::calloc(size_t(height), size_t(result->stride)));
        if (!result->pixels) {
            DestroyWindowImage(result);
            return _null;
        }
    }
    return result;
}

void DestroyWindowImage(WindowImage* image) {
    if (!image) return;
    if (image->image) {
        if (image->shared) {
            Display* display = gConnection.Current();
            XShmDetach(display, &image->shm);
            XSync(display, False);
            shmdt(image->shm.shmaddr);
            image->image->data = _null;
        }
        XDestroyImage(image->image);
    }
    if (!image->direct) std::free(image->pixels);
    delete image;
}

int32_t WindowImageWidth(const WindowImage* image) { return image ? image->width : 0; }
int32_t WindowImageHeight(const WindowImage* image) { return image ? image->height : 0; }

uint8_t* WindowImagePixels(WindowImage* image, int32_t* stride) {
    if (!image) {
        if (stride) *stride = 0;
        return _null;
    }
    if (stride) *stride = image->stride;
    return image->pixels;
}

bool PresentWindowImage(NativeWindow window, WindowImage* image) {
    if (window == 0 || !image) return false;
    Display* display = PresentDisplay();
    if (!display) return false;
    int errors = OwnDisplayErrors(display);
    GC gc = GcFor(display, Window(window));
    if (!gc || errors != OwnDisplayErrors(display)) {
        gGcWindow = 0;
        return false;
    }
    if (!image->direct) Convert(image);
    if (image->shared) {
        XShmPutImage(display, Window(window), gc, image->image, 0, 0, 0, 0, unsigned(image->width),
                     unsigned(image->height), False);
    } else {
        XPutImage(display, Window(window), gc, image->image, 0, 0, 0, 0, unsigned(image->width),
                  unsigned(image->height));
    }
    // The display must have read the shared pixels before the next frame is drawn into them.
    XSync(display, False);
    if (errors != OwnDisplayErrors(display)) {
        // The window may be gone; its graphics context goes with the next window.
        gGcWindow = 0;
        return false;
    }
    return true;
}
