// The command line of vexal-screen.
#pragma once

#include <cstdint>
#include <string>

struct PreviewOptions {
    int32_t mWidth = 1024;
    int32_t mHeight = 768;
    double mProgress = -1;   // fixed progress 0..1; -1 when --seconds drives it
    double mSeconds = 0;     // progress from 0 to 1 over this many seconds; 0 when fixed
    std::string mScreenshot; // PNG written at mScreenshotAt seconds; empty for none
    double mScreenshotAt = 0;
    bool mProfile = false;     // profiler on, dump at exit
    int32_t mSlowMs = 0;       // slow-call threshold; 0 for none
    int32_t mAllocMinimum = 0; // allocation tracking with this minimum; 0 for none
    std::string mAssets;       // a folder embedded over the defaults by VEXAL_SCREEN_ASSETS; empty for none
    std::string mScript;       // empty: the folder's loading-gdi.lua (or the default script)
};

// Reads the arguments (without the program name). False with a message for the user when they
// cannot be used; --help gives false with the usage text and help set.
bool ParsePreviewOptions(int argc, char** argv, PreviewOptions& options, std::string& message, bool& help);

extern const char kPreviewUsage[];
