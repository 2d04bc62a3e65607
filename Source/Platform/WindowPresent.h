// Presenting an ARGB32 picture in a window's client area in one block transfer, and the client
// size it is drawn for.
#pragma once

#include "Common/Types.h"

// A window is the platform's window handle carried in a pointer-sized integer (an X11 window id
// here); 0 is no window.
typedef uintptr_t PresentWindow;

// A block of width x height 32-bit ARGB pixels (premultiplied, native byte order, rows `stride`
// bytes apart) that can be copied to a window at (0, 0). Where the display allows it the pixels
// are shared with the display server, so presenting copies nothing on the program's side.
// Owned by its creator; used on one thread (the one that talks to the window).
struct WindowImage;

// The current size of the window's client area. Without a display, for the null window or for a
// window the display does not know, both are 0 and false is returned. Each call asks the display.
bool GetWindowClientSize(PresentWindow window, int32_t* width, int32_t* height);

// An image of the given size for presenting to windows of this display. Null without a display,
// for a size of 0 or below, or when the memory cannot be had. Free it with DestroyWindowImage.
WindowImage* CreateWindowImage(int32_t width, int32_t height);
void DestroyWindowImage(WindowImage* image);
int32_t WindowImageWidth(const WindowImage* image);
int32_t WindowImageHeight(const WindowImage* image);
// The pixels; valid until DestroyWindowImage. Null for a null image.
uint8_t* WindowImagePixels(WindowImage* image, int32_t* stride);

// Copies the whole image to the window's client area at (0, 0) (parts beyond the window are
// cut) and waits until the display has taken the pixels, so the caller may draw again at once.
// False without a display, for the null window, a window the display does not know, or a null
// image; nothing is drawn then.
bool PresentWindowImage(PresentWindow window, WindowImage* image);
