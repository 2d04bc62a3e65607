// A real X11 window for the loading-screen tests: created on the test display, resized, and
// read back pixel by pixel from the window itself.
#pragma once

#include <cstdint>
#include <vector>

class TestWindow {
public:
    // Creates and maps a top-level window of that size; IsValid is false without a display.
    TestWindow(int width, int height);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    bool IsValid() const { return mWindow != 0; }
    uintptr_t Handle() const { return mWindow; }
    // Resizes and waits until the server reports the new size.
    void Resize(int width, int height);
    // Reads the whole client area (0xRRGGBB per pixel, row by row) into the snapshot.
    void Capture();
    uint32_t Pixel(int x, int y) const;
    int Width() const { return mWidth; }
    int Height() const { return mHeight; }

private:
    void* mDisplay = nullptr;
    unsigned long mWindow = 0;
    int mWidth = 0;
    int mHeight = 0;
    std::vector<uint32_t> mPixels;
};

// Channel helpers for 0x..RRGGBB values.
inline int Red(uint32_t p) { return int((p >> 16) & 0xFF); }
inline int Green(uint32_t p) { return int((p >> 8) & 0xFF); }
inline int Blue(uint32_t p) { return int(p & 0xFF); }
