// The tests' connections to an X display.
#pragma once

#include <X11/Xlib.h>

// Opens the display named (the one of DISPLAY when null), trying again twice at once: Xvfb
// resets a new connection now and then under load. Null when it cannot be reached.
Display* OpenTestDisplay(const char* name = nullptr);
