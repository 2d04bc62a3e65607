// Reading one pixel of a block of the drawing layer's pixels, the same under every drawing
// system. Internal to the platform layer.
#pragma once

#include "Common/Types.h"

// The colour of the pixel at x, y of width x height premultiplied ARGB words (rows stride bytes
// apart) as 0xAARRGGBB, not premultiplied; 0 outside the block or without pixels.
uint32_t PixelColourAt(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, int32_t x, int32_t y);
