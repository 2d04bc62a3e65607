// The X display and window the screen benchmark draws to: the one in DISPLAY, or an Xvfb of the
// benchmark's own when there is none.
#pragma once

#include <X11/Xlib.h>

// Makes sure DISPLAY names a working display, starting Xvfb when needed (stopped at exit).
// False when no display can be had.
bool EnsureBenchDisplay();
// A mapped window of that size on a connection of its own; 0 on failure.
Window OpenBenchWindow(Display** display, int width, int height);
