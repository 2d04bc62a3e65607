// The regular-expression engine's own arrays: a growable buffer and a counted view.
#pragma once

#include <cstdlib>
#include <cstring>
#include <type_traits>
#include "Common/Types.h"

// Growable array of plain values (copied bytewise). Allocates nothing until first use; the first
// growth gives 8 entries, later growths double, and when doubling is not enough the capacity
// becomes the next multiple of 8 above what is needed. A buffer never grows beyond its limit
// (entries); a growth that would pass it, or that cannot get memory, fails and leaves the
// contents as they were. Not thread-safe; one owner.
template <typename T>
class CBufferT {
    static_assert(std::is_trivially_copyable_v<T>, "CBufferT holds plain values");

public:
    CBufferT() : mData(_null), mCount(0), mCapacity(0), mLimit(0x7FFFFFF0 / int32_t(sizeof(T))) {}
    CBufferT(const CBufferT&) = delete;
    CBufferT& operator=(const CBufferT&) = delete;
    CBufferT(CBufferT&& other) noexcept
        : mData(other.mData), mCount(other.mCount), mCapacity(other.mCapacity), mLimit(other.mLimit) {
        other.mData = _null;
        other.mCount = 0;
        other.mCapacity = 0;
    }
    CBufferT& operator=(CBufferT&& other) noexcept {
        if (this != &other) {
            std::free(mData);
            mData = other.mData;
            mCount = other.mCount;
            mCapacity = other.mCapacity;
            mLimit = other.mLimit;
            other.mData = _null;
            other.mCount = 0;
            other.mCapacity = 0;
        }
        return *this;
    }
    ~CBufferT() { std::free(mData); }

    int32_t GetCount() const { return mCount; }
    int32_t GetCapacity() const { return mCapacity; }
    T* GetData() { return mData; }
    const T* GetData() const { return mData; }
    // Unchecked element access: index must be below the count.
    T& operator[](int32_t index) { return mData[index]; }
    const T& operator[](int32_t index) const { return mData[index]; }

    // The most entries this buffer may ever hold (at least 8).
    void SetLimit(int32_t limit) { mLimit = limit < 8 ? 8 : limit; }

    // Makes room for count entries. False when the limit or memory does not allow it.
    bool Reserve(int32_t count) {
        if (count <= mCapacity) return true;
        if (count > mLimit) return false;
        int64_t capacity = mCapacity == 0 ? 8 : int64_t(mCapacity) * 2;
        if (capacity < count) capacity = (int64_t(count) / 8 + 1) * 8;
        if (capacity > mLimit) capacity = mLimit;
        T* data = static_cast<T*>(std::realloc(mData, size_t(capacity) * sizeof(T)));
        if (!data) return false;
        mData = data;
        mCapacity = int32_t(capacity);
        return true;
    }
    // Appends one entry; false (nothing stored) when the buffer cannot grow.
    bool Push(const T& value) {
        if (mCount == mCapacity && !Reserve(mCount + 1)) return false;
        mData[mCount++] = value;
        return true;
    }
    // Appends count entries; false (nothing stored) when the buffer cannot grow.
    bool Append(const T* values, int32_t count) {
        if (count <= 0) return true;
        if (int64_t(mCount) + count > 0x7FFFFFFF || !Reserve(mCount + count)) return false;
        std::memcpy(mData + mCount, values, size_t(count) * sizeof(T));
        mCount += count;
        return true;
    }
    // Removes and returns the last entry; a default value when the buffer is empty.
    T Pop() { return mCount > 0 ? mData[--mCount] : T(); }
    // The last entry; a default value when the buffer is empty.
    T Top() const { return mCount > 0 ? mData[mCount - 1] : T(); }
    // Cuts the buffer to count entries (never grows it); storage is kept.
    void Truncate(int32_t count) {
        if (count >= 0 && count < mCount) mCount = count;
    }
    // Sets the count, growing as needed; new entries are filled with value. False on failure.
    bool Resize(int32_t count, const T& value) {
        if (count < 0 || !Reserve(count)) return false;
        for (int32_t i = mCount; i < count; ++i) mData[i] = value;
        mCount = count;
        return true;
    }
    // count := 0, storage kept.
    void Clear() { mCount = 0; }
    // Frees the storage.
    void Release() {
        std::free(mData);
        mData = _null;
        mCount = 0;
        mCapacity = 0;
    }

private:
    T* mData;
    int32_t mCount;
    int32_t mCapacity;
    int32_t mLimit;
};

// A pointer and a count over memory owned elsewhere; the owner keeps it alive and unchanged
// while the view is used. Default: empty.
template <typename T>
class CBufferRefT {
public:
    CBufferRefT() : mData(_null), mCount(0) {}
    CBufferRefT(const T* data, int32_t count) : mData(data), mCount(data && count > 0 ? count : 0) {}

    const T* GetData() const { return mData; }
    int32_t GetCount() const { return mCount; }
    // Unchecked: index must be in [0, count).
    const T& operator[](int32_t index) const { return mData[index]; }

private:
    const T* mData;
    int32_t mCount;
};
