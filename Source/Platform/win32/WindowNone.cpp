// The host window's services on Windows until the window layer is in: every window counts as
// none, so the client area is 0 x 0, timers do nothing and nothing is presented.
#include "Source/Platform/Window.h"

bool GetClientSize(NativeWindow, int32_t* width, int32_t* height) {
    if (width != _null)
        *width = 0;
    if (height != _null)
        *height = 0;
    return false;
}

bool StartWindowTimer(NativeWindow, uint32_t, uint32_t) { return false; }
bool StopWindowTimer(NativeWindow, uint32_t) { return false; }
void CloseWindowConnections() {}

WindowImage* CreateWindowImage(NativeWindow, int32_t, int32_t) { return _null; }
void DestroyWindowImage(WindowImage*) {}
int32_t WindowImageWidth(const WindowImage*) { return 0; }
int32_t WindowImageHeight(const WindowImage*) { return 0; }
uint8_t* WindowImagePixels(WindowImage*, int32_t* stride) {
    if (stride != _null)
        *stride = 0;
    return _null;
}
bool PresentWindowImage(NativeWindow, WindowImage*) { return false; }
