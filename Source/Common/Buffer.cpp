// The engine's byte buffer over the general-purpose allocator.
#include "Source/Common/Buffer.h"

#include <cstdlib>
#include <cstring>
#include <utility>

Buffer::Buffer() : mOwns(true), mSize(0), mData(_null), mCursor(_null) {}

Buffer::~Buffer() { Clear(); }

Buffer::Buffer(Buffer&& other) noexcept : Buffer() { Swap(other); }

Buffer& Buffer::operator=(Buffer&& other) noexcept {
    if (this != &other) {
        Clear();
        mName.Clear();
        Swap(other);
    }
    return *this;
}

void Buffer::Clear() {
    if (mOwns && mData != _null) std::free(mData);
    mOwns = true;
    mSize = 0;
    mData = _null;
    mCursor = _null;
}

bool Buffer::Allocate(uint32_t size) {
    Clear();
    if (size == 0) return true;
    uint8_t* data = static_cast<uint8_t*>(std::malloc(size));
    if (data == _null) return false;
    mData = data;
    mSize = size;
    mCursor = data;
    return true;
}

bool Buffer::Resize(uint32_t size) {
    if (size == mSize) return true;
    uint32_t offset = GetCursorOffset();
    uint8_t* data = _null;
    if (size != 0) {
        data = static_cast<uint8_t*>(std::malloc(size));
        if (data == _null) return false;
        if (mData != _null) std::memcpy(data, mData, size < mSize ? size : mSize);
    }
    if (mOwns && mData != _null) std::free(mData);
    mOwns = true;
    mData = data;
    mSize = size;
    mCursor = data ? data + (offset > size ? size : offset) : _null;
    return true;
}

bool Buffer::Set(const void* bytes, uint32_t size, bool copy) {
    if (size != 0 && bytes == _null) return false;
    uint8_t* data = static_cast<uint8_t*>(const_cast<void*>(bytes));
    if (size != 0 && copy) {
        // Copied before the old data goes: the bytes may be part of it.
        data = static_cast<uint8_t*>(std::malloc(size));
        if (data == _null) return false;
        std::memcpy(data, bytes, size);
    }
    Clear();
    if (size == 0) return true;
    mOwns = copy;
    mData = data;
    mSize = size;
    mCursor = data;
    return true;
}

bool Buffer::Append(const void* bytes, uint32_t count) {
    if (count == 0) return true;
    if (bytes == _null || count > UINT32_MAX - mSize) return false;
    uint32_t offset = GetCursorOffset();
    uint32_t size = mSize + count;
    uint8_t* data = static_cast<uint8_t*>(std::malloc(size));
    if (data == _null) return false;
    if (mData != _null) std::memcpy(data, mData, mSize);
    std::memcpy(data + mSize, bytes, count);
    if (mOwns && mData != _null) std::free(mData);
    mOwns = true;
    mData = data;
    mSize = size;
    mCursor = data + offset;
    return true;
}

void Buffer::Swap(Buffer& other) {
    std::swap(mOwns, other.mOwns);
    std::swap(mSize, other.mSize);
    std::swap(mData, other.mData);
    std::swap(mCursor, other.mCursor);
    std::swap(mName, other.mName);
}
