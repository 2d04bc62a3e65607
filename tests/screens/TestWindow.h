// A real X11 window for the loading-screen tests: created on the test display (or another one),
// resized, and read back pixel by pixel from the window itself.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class TestWindow {
public:
    // Creates and maps a top-level window of that size on the display named (the one of DISPLAY
    // when null), in the screen's default visual, or with depth 32 in a 32-bit ARGB visual.
    // IsValid is false without a display (or without such a visual).
    TestWindow(int width, int height, const char* displayName = nullptr, int depth = 0);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    bool IsValid() const { return mWindow != 0; }
    uintptr_t Handle() const { return mWindow; }
    // Resizes and waits until the server reports the new size.
    void Resize(int width, int height);
    // Reads the whole client area (0xRRGGBB per pixel, row by row, whatever the window's depth)
    // into the snapshot.
    void Capture();
    uint32_t Pixel(int x, int y) const;
    int Width() const { return mWidth; }
    int Height() const { return mHeight; }

private:
    void* mDisplay = nullptr;
    unsigned long mWindow = 0;
    unsigned long mColormap = 0;
    int mWidth = 0;
    int mHeight = 0;
    std::vector<uint32_t> mPixels;
};

// An X server of the test's own (Xvfb) with a screen of the given depth, on a free display
// number, never reset between clients; stopped with the object. Name is empty when it could not be started.
class ExtraDisplay {
public:
    explicit ExtraDisplay(int depth);
    ~ExtraDisplay();
    ExtraDisplay(const ExtraDisplay&) = delete;
    ExtraDisplay& operator=(const ExtraDisplay&) = delete;
    const std::string& Name() const { return mName; }

private:
    pid_t mServer = 0;
    std::string mName;
};

// Channel helpers for 0x..RRGGBB values.
inline int Red(uint32_t p) { return int((p >> 16) & 0xFF); }
inline int Green(uint32_t p) { return int((p >> 8) & 0xFF); }
inline int Blue(uint32_t p) { return int(p & 0xFF); }
