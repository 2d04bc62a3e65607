// Small image files written by the tests.
#include "TestImages.h"

namespace {

void Put16(std::string& out, uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace

std::string SolidBmp(int width, int height, uint32_t colour) {
    int rowBytes = (width * 3 + 3) & ~3;
    std::string out = "BM";
    Put32(out, uint32_t(54 + rowBytes * height));
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, uint32_t(width));
    Put32(out, uint32_t(height));
    Put16(out, 1);
    Put16(out, 24);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            out += char(colour & 0xFF);
            out += char((colour >> 8) & 0xFF);
            out += char((colour >> 16) & 0xFF);
        }
        out.append(size_t(rowBytes - width * 3), '\0');
    }
    return out;
}

std::string TwoFrameGif(uint16_t firstDelay, uint16_t secondDelay) {
    std::string out = "GIF89a";
    Put16(out, 1);
    Put16(out, 1);
    out += char(0x80); // a global table of two colours
    out += '\0';
    out += '\0';
    out += std::string("\0\0\0\xff\xff\xff", 6);
    // Loop for ever.
    out += std::string("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (int frame = 0; frame < 2; ++frame) {
        out += std::string("\x21\xf9\x04\x00", 4);
        Put16(out, frame == 0 ? firstDelay : secondDelay);
        out += std::string("\x00\x00", 2);
        out += char(0x2C);
        Put32(out, 0);
        Put16(out, 1);
        Put16(out, 1);
        out += '\0';
        out += char(2); // LZW code size
        // Clear, the colour index, end: 3-bit codes packed from the low bit.
        out += frame == 0 ? std::string("\x02\x44\x01\x00", 4) : std::string("\x02\x4c\x01\x00", 4);
    }
    out += char(0x3B);
    return out;
}
