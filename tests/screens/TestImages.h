// Small image files written by the tests: a solid BMP and a two-frame GIF.
#pragma once

#include <cstdint>
#include <string>

// A width x height 24-bit BMP of one colour (0xRRGGBB).
std::string SolidBmp(int width, int height, uint32_t colour);
// A 1 x 1 GIF of two frames (black, then white) with the given delays in hundredths of a second.
std::string TwoFrameGif(uint16_t firstDelay, uint16_t secondDelay);
