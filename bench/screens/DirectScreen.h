// The benchmark's peer: the default loading screen's picture drawn straight with Cairo and Pango
// into a shared-memory image and presented with XShmPutImage, with no script or layer between.
#pragma once

#include <X11/Xlib.h>

struct DirectScreenState;

class DirectScreen {
public:
    // Loads the pictures from the assets folder; IsValid tells whether everything is ready.
    DirectScreen(Display* display, Window window, int width, int height, const char* assets);
    ~DirectScreen();
    bool IsValid() const;
    void Draw(double progress);
    void Present();

private:
    DirectScreenState* mState;
};
