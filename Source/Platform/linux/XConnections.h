// The library's own X display connections, shared by the window services: each is opened and
// closed here, and errors on it are counted for it instead of reaching the host's error handler.
#pragma once

#include <X11/Xlib.h>

#include <chrono>

// Opens a connection to the default display, null without one. The first open connection puts
// our error handler in place; closing the last one puts back the handler that was there before.
Display* OpenOwnDisplay();
// Waits for the display to answer everything sent so far, then closes the connection.
void CloseOwnDisplay(Display* display);
// Errors the display has reported on this connection so far.
int OwnDisplayErrors(Display* display);

// One of the library's connections, opened on first need and kept until Close. A failed open is
// tried again on a need at least a second later: a display that was busy or not yet up when the
// loading screen started must not leave the window black for the whole run, and a host whose
// display cannot be reached pays for one attempt a second at most. The caller serialises use.
class OwnConnection {
public:
    // The connection; none while the display cannot be reached. `opened` (optional) tells
    // whether this call opened it.
    Display* Get(bool* opened = nullptr);
    // The open connection, without trying to open one; none while closed.
    Display* Current() const { return mDisplay; }
    // Closes the connection (if open); the next Get tries at once.
    void Close();

private:
    Display* mDisplay = nullptr;
    std::chrono::steady_clock::time_point mNextTry{};
};

// Frees the picture connection's graphics context and closes it (WindowPresent.cpp); no window
// image may be left.
void ClosePresentDisplay();
