// Byte and bit writers for the SWF file format (little-endian fields, bit-packed records, tags).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Appends little-endian fields and bit-packed values; bit fields start at a byte boundary after
// any byte write (Align is implied).
class SwfWriter {
public:
    void U8(uint32_t v);
    void U16(uint32_t v);
    void U32(uint32_t v);
    void Double(double v);              // the AVM1 push layout: high word first, each little-endian
    void Text(const std::string& utf8); // bytes followed by a NUL
    void Raw(const Bytes& bytes);
    void Raw(const uint8_t* bytes, size_t count);
    void Bits(uint32_t value, int count); // unsigned, most significant bit first
    void SignedBits(int32_t value, int count);
    void Align(); // pads the current byte with zero bits
    const Bytes& Data() {
        Align();
        return mData;
    }
    size_t Size() const { return mData.size(); }

private:
    Bytes mData;
    int mBitCount = 0; // bits used in the last byte; 0 when byte-aligned
};

// The number of bits a signed field needs to hold every given value.
int SignedBitsFor(std::initializer_list<int32_t> values);

// One tag: short header when the body is below 63 bytes and the tag may use it, long otherwise.
void WriteTag(SwfWriter& out, uint16_t code, const Bytes& body, bool forceLong = false);
// A RECT in twips.
void WriteRect(SwfWriter& out, int32_t xMin, int32_t xMax, int32_t yMin, int32_t yMax);
// A MATRIX with scale only (16.16 fixed values) and translation in twips.
void WriteMatrix(SwfWriter& out, double scaleX, double scaleY, int32_t translateX, int32_t translateY);
