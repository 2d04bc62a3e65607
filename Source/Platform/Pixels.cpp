// One pixel of the drawing layer's premultiplied ARGB words, un-premultiplied.
#include "Source/Platform/Pixels.h"

#include <cstring>

namespace {

uint32_t Unpremultiply(uint32_t pixel) {
    uint32_t a = pixel >> 24;
    if (a == 0) return 0;
    if (a == 255) return pixel;
    uint32_t r = (((pixel >> 16) & 0xFF) * 255 + a / 2) / a;
    uint32_t g = (((pixel >> 8) & 0xFF) * 255 + a / 2) / a;
    uint32_t b = ((pixel & 0xFF) * 255 + a / 2) / a;
    return (a << 24) | (r << 16) | (g << 8) | b;
}

} // namespace

uint32_t PixelColourAt(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, int32_t x, int32_t y) {
    if (pixels == _null || x < 0 || y < 0 || x >= width || y >= height) return 0;
    uint32_t pixel;
    std::memcpy(&pixel, pixels + size_t(y) * size_t(stride) + size_t(x) * 4, 4);
    return Unpremultiply(pixel);
}
