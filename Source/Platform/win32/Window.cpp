// The host window's services over the window manager and GDI: the client rectangle, the
// window timer (its WM_TIMER messages come through the host's own message loop) and the frame
// presented from a memory device context holding a DIB section, in one block transfer.
#include "Source/Platform/Window.h"

#include <windows.h>

#include <new>

namespace {

HWND AsWindow(NativeWindow window) { return reinterpret_cast<HWND>(window); }

} // namespace

bool GetClientSize(NativeWindow window, int32_t* width, int32_t* height) {
    RECT rect = {0, 0, 0, 0};
    bool known = window != 0 && IsWindow(AsWindow(window)) && GetClientRect(AsWindow(window), &rect);
    if (!known) rect = RECT{0, 0, 0, 0};
    if (width != _null) *width = int32_t(rect.right - rect.left);
    if (height != _null) *height = int32_t(rect.bottom - rect.top);
    return known;
}

// The system posts WM_TIMER (wParam = id) to the window's queue at its own minimum period; no
// code of this library runs for a tick, so a timer left behind by a host that unloads the
// library without deleting its loader harms nothing. The window must belong to the calling
// thread, as for every timer of a window.
bool StartWindowTimer(NativeWindow window, uint32_t id, uint32_t periodMs) {
    if (window == 0 || !IsWindow(AsWindow(window))) return false;
    return SetTimer(AsWindow(window), UINT_PTR(id), periodMs, _null) != 0;
}

bool StopWindowTimer(NativeWindow window, uint32_t id) {
    if (window == 0) return false;
    return KillTimer(AsWindow(window), UINT_PTR(id)) != 0;
}

// Timers belong to their windows and no connection of ours exists here.
void CloseWindowConnections() {}

// A top-down 32-bit DIB section selected into a memory device context: its pixels are the
// drawing layer's premultiplied ARGB words (B, G, R, A in memory), and GDI converts them to the
// screen's format (16-bit displays included) in the block transfer.
struct WindowImage {
    HDC memory = _null;
    HBITMAP bitmap = _null;
    HGDIOBJ previous = _null;
    uint8_t* pixels = _null;
    int32_t width = 0;
    int32_t height = 0;
};

WindowImage* CreateWindowImage(NativeWindow window, int32_t width, int32_t height) {
    if (window == 0 || width <= 0 || height <= 0 || !IsWindow(AsWindow(window))) return _null;
    // A DIB's row count and size are 32-bit: refuse sizes whose bytes do not fit.
    if (int64_t(width) * int64_t(height) * 4 > INT32_MAX) return _null;
    WindowImage* image = new (std::nothrow) WindowImage;
    if (image == _null) return _null;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // rows from the top, as the drawing layer has them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = _null;
    image->memory = CreateCompatibleDC(_null);
    if (image->memory != _null) image->bitmap = CreateDIBSection(image->memory, &info, DIB_RGB_COLORS, &bits, _null, 0);
    if (image->bitmap == _null || bits == _null) {
        DestroyWindowImage(image);
        return _null;
    }
    image->previous = SelectObject(image->memory, image->bitmap);
    image->pixels = static_cast<uint8_t*>(bits);
    image->width = width;
    image->height = height;
    return image;
}

void DestroyWindowImage(WindowImage* image) {
    if (image == _null) return;
    if (image->memory != _null && image->previous != _null) SelectObject(image->memory, image->previous);
    if (image->bitmap != _null) DeleteObject(image->bitmap);
    if (image->memory != _null) DeleteDC(image->memory);
    delete image;
}

int32_t WindowImageWidth(const WindowImage* image) { return image != _null ? image->width : 0; }
int32_t WindowImageHeight(const WindowImage* image) { return image != _null ? image->height : 0; }

uint8_t* WindowImagePixels(WindowImage* image, int32_t* stride) {
    if (stride != _null) *stride = image != _null ? image->width * 4 : 0;
    if (image == _null) return _null;
    // GDI may still hold batched work on the bitmap: the caller writes the pixels next.
    GdiFlush();
    return image->pixels;
}

bool PresentWindowImage(NativeWindow window, WindowImage* image) {
    if (window == 0 || image == _null || !IsWindow(AsWindow(window))) return false;
    HDC target = GetDC(AsWindow(window));
    if (target == _null) return false;
    bool copied = BitBlt(target, 0, 0, image->width, image->height, image->memory, 0, 0, SRCCOPY) != 0;
    ReleaseDC(AsWindow(window), target);
    // The copy is complete before the caller draws into the pixels again.
    GdiFlush();
    return copied;
}
