// Services of the host's window: its client size and window timers.
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

// Stops every timer still running (the library calls it when it is unloaded).
void StopAllWindowTimers();
