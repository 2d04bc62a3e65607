#include "support/TestDisplay.h"

Display* OpenTestDisplay(const char* name) {
    Display* display = nullptr;
    for (int attempt = 0; attempt < 3 && display == nullptr; ++attempt) display = XOpenDisplay(name);
    return display;
}
