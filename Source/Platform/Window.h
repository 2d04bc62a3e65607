// Services of the host's window: its client size, window timers and presenting pictures in it.
#pragma once

#include "Common/Types.h"

// A host window: an X11 window id carried in a pointer-sized integer; 0 is no window.
typedef uintptr_t NativeWindow;

// The client area's size in pixels (left and top are 0). With no window, no display or a window
// that does not exist (any more), both are 0 and the result is false. Host's thread only: the
// query runs on the library's own display connection, opened on first need.
bool GetClientSize(NativeWindow window, int32_t* width, int32_t* height);

// Starts (or restarts, when the same window and id already have one) a timer that sends the
// window a ClientMessage of the atom "VEXAL_WM_TIMER" with data.l[0] = id every
// max(periodMs, 10) milliseconds, from a thread of its own with its own display connection.
// False (and nothing started) with no window or no display: timers then do nothing. Any thread.
bool StartWindowTimer(NativeWindow window, uint32_t id, uint32_t periodMs);

// Stops the timer of that window and id and waits for its thread to end (at most one message
// send). False when there was none. Any thread.
bool StopWindowTimer(NativeWindow window, uint32_t id);

// Stops every timer and closes every display connection the window services opened, putting
// back the X error handler that was in place before the first one opened (unless another has
// been put in place since). No window image may be left. Later calls open connections afresh.
// The library calls it when it is unloaded: nothing of ours may stay behind in Xlib's hands.
void CloseWindowConnections();

// --- Presenting pictures (the loading screen draws off-screen, then copies the picture in one
// block transfer). Host's thread only; the pictures use a display connection of their own. ---

// A block of width x height 32-bit ARGB pixels (premultiplied, native byte order, rows `stride`
// bytes apart) that can be copied to one window at (0, 0). When the window's visual holds 8-bit
// red, green and blue in 32-bit pixels (depth 24, or 32 with alpha) the pixels are the window's
// own, shared with the display server where it allows that, so presenting copies nothing on the
// program's side. Any other true-colour visual (16-bit, 30-bit displays) gets the pixels
// converted to the window's format at each present. Owned by its creator; used on one thread
// (the one that talks to the window).
struct WindowImage;

// An image of the given size for presenting to that window, in its visual and depth. Null
// without a display, for a window the display does not know, a window whose visual is not true
// colour, a size of 0 or below, or when the memory cannot be had. Free it with
// DestroyWindowImage.
WindowImage* CreateWindowImage(NativeWindow window, int32_t width, int32_t height);
void DestroyWindowImage(WindowImage* image);
int32_t WindowImageWidth(const WindowImage* image);
int32_t WindowImageHeight(const WindowImage* image);
// The pixels; valid until DestroyWindowImage. Null for a null image.
uint8_t* WindowImagePixels(WindowImage* image, int32_t* stride);

// Copies the whole image to the window's client area at (0, 0) (parts beyond the window are
// cut) and waits until the display has taken the pixels, so the caller may draw again at once.
// False without a display, for the null window, a window the display does not know (or one
// whose visual is not the image's), or a null image; nothing is drawn then.
bool PresentWindowImage(NativeWindow window, WindowImage* image);
