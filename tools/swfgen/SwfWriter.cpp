// Byte and bit writers for the SWF file format.
#include "SwfWriter.h"

#include <cstring>

void SwfWriter::U8(uint32_t v) {
    Align();
    mData.push_back(uint8_t(v));
}
void SwfWriter::U16(uint32_t v) {
    U8(v & 0xFF);
    U8((v >> 8) & 0xFF);
}
void SwfWriter::U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
}

void SwfWriter::Double(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    U32(uint32_t(bits >> 32));
    U32(uint32_t(bits));
}

void SwfWriter::Text(const std::string& utf8) {
    for (char c : utf8) U8(uint8_t(c));
    U8(0);
}

void SwfWriter::Raw(const Bytes& bytes) { Raw(bytes.data(), bytes.size()); }

void SwfWriter::Raw(const uint8_t* bytes, size_t count) {
    Align();
    mData.insert(mData.end(), bytes, bytes + count);
}

void SwfWriter::Bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        if (mBitCount == 0) mData.push_back(0);
        if ((value >> i) & 1) mData.back() |= uint8_t(0x80 >> mBitCount);
        mBitCount = (mBitCount + 1) & 7;
    }
}

void SwfWriter::SignedBits(int32_t value, int count) { Bits(uint32_t(value) & ((count >= 32) ? ~0u : ((1u << count) - 1)), count); }

void SwfWriter::Align() { mBitCount = 0; }

int SignedBitsFor(std::initializer_list<int32_t> values) {
    int bits = 1;
    for (int32_t v : values) {
        int needed = 1;
        int32_t magnitude = v < 0 ? ~v : v;
        while (magnitude) {
            ++needed;
            magnitude >>= 1;
        }
        if (needed > bits) bits = needed;
    }
    return bits;
}

void WriteTag(SwfWriter& out, uint16_t code, const Bytes& body, bool forceLong) {
    if (body.size() < 63 && !forceLong) {
        out.U16(uint32_t(code) << 6 | uint32_t(body.size()));
    } else {
        out.U16(uint32_t(code) << 6 | 0x3F);
        out.U32(uint32_t(body.size()));
    }
    out.Raw(body);
}

void WriteRect(SwfWriter& out, int32_t xMin, int32_t xMax, int32_t yMin, int32_t yMax) {
    int bits = SignedBitsFor({xMin, xMax, yMin, yMax});
    out.Align();
    out.Bits(uint32_t(bits), 5);
    out.SignedBits(xMin, bits);
    out.SignedBits(xMax, bits);
    out.SignedBits(yMin, bits);
    out.SignedBits(yMax, bits);
    out.Align();
}

void WriteMatrix(SwfWriter& out, double scaleX, double scaleY, int32_t translateX, int32_t translateY) {
    out.Align();
    int32_t sx = int32_t(scaleX * 65536.0), sy = int32_t(scaleY * 65536.0);
    bool scaled = sx != 65536 || sy != 65536;
    out.Bits(scaled ? 1 : 0, 1);
    if (scaled) {
        int bits = SignedBitsFor({sx, sy});
        out.Bits(uint32_t(bits), 5);
        out.SignedBits(sx, bits);
        out.SignedBits(sy, bits);
    }
    out.Bits(0, 1); // no rotation
    int bits = (translateX || translateY) ? SignedBitsFor({translateX, translateY}) : 0;
    out.Bits(uint32_t(bits), 5);
    if (bits) {
        out.SignedBits(translateX, bits);
        out.SignedBits(translateY, bits);
    }
    out.Align();
}
