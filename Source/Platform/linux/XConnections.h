// The library's own X display connections, shared by the window services: each is opened and
// closed here, and errors on it are counted for it instead of reaching the host's error handler.
#pragma once

#include <X11/Xlib.h>

// Opens a connection to the default display, null without one. The first open connection puts
// our error handler in place; closing the last one puts back the handler that was there before.
Display* OpenOwnDisplay();
// Waits for the display to answer everything sent so far, then closes the connection.
void CloseOwnDisplay(Display* display);
// Errors the display has reported on this connection so far.
int OwnDisplayErrors(Display* display);

// Frees the picture connection's graphics context and closes it (WindowPresent.cpp); no window
// image may be left.
void ClosePresentDisplay();
