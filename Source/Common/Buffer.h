// The engine's byte buffer: file contents, downloads, resources and unpacked blocks.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

// Data comes from the general-purpose allocator (malloc/free), never from the engine heap.
// The buffer frees its data only when it owns it. The cursor is the read/write position inside
// the data. Not copyable; movable.
class Buffer {
public:
    Buffer();
    ~Buffer();
    Buffer(Buffer&& other) noexcept;
    Buffer& operator=(Buffer&& other) noexcept;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // Frees owned data; owns := true, size := 0, data and cursor := none. The name stays.
    void Clear();
    // Clear, then (size != 0) fresh uninitialised data of that size; cursor at the start.
    // False (and the buffer empty) when the memory cannot be had.
    bool Allocate(uint32_t size);
    // New data of the new size keeping the first min(old, new) bytes; the cursor keeps its offset,
    // clamped to the new end. Nothing happens when the size is unchanged. False (buffer unchanged)
    // when the memory cannot be had.
    bool Resize(uint32_t size);
    // Clear, then a private copy of the bytes (copy true) or the bytes themselves, borrowed
    // (copy false; never freed by the buffer). Cursor at the start. The bytes may lie inside this
    // buffer's own data. False (buffer unchanged) when the copy's memory cannot be had or bytes
    // is none with a non-zero size.
    bool Set(const void* bytes, uint32_t size, bool copy);
    // Appends count bytes (new data of size + count, owned); the cursor keeps its offset. False
    // (buffer unchanged) when the memory cannot be had, bytes is none with a non-zero count, or
    // the size would pass 4 GiB.
    bool Append(const void* bytes, uint32_t count);

    uint8_t* GetData() const { return mData; }
    uint32_t GetSize() const { return mSize; }
    bool Owns() const { return mOwns; }
    uint8_t* GetCursor() const { return mCursor; }
    uint32_t GetCursorOffset() const { return mData ? uint32_t(mCursor - mData) : 0; }
    void SetCursorOffset(uint32_t offset) { mCursor = mData ? mData + (offset > mSize ? mSize : offset) : _null; }
    const String& GetName() const { return mName; }
    void SetName(const WideChar* name) { mName = name; }
    // Exchanges the whole contents (data, size, ownership, cursor and name) with another buffer.
    void Swap(Buffer& other);

private:
    bool mOwns;
    uint32_t mSize;
    uint8_t* mData;
    uint8_t* mCursor;
    String mName;
};
