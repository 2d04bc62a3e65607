// Growable array: capacity 16 at first use, then doubling; storage from malloc.
#pragma once

#include <cstdlib>
#include <new>
#include <utility>
#include "Common/Types.h"

void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line);

// Allocates nothing until the first Append. Element access checks "IsIndexValid( index )"; an
// invalid index is reported and answered with a default-constructed scratch element.
template <typename T>
class Array {
public:
    Array() : mCapacity(0), mCount(0), mItems(_null) {}
    Array(const Array& other) : Array() { for (int32_t i = 0; i < other.mCount; ++i) Append(other.mItems[i]); }
    Array(Array&& other) noexcept : mCapacity(other.mCapacity), mCount(other.mCount), mItems(other.mItems) {
        other.mCapacity = 0; other.mCount = 0; other.mItems = _null;
    }
    Array& operator=(const Array& other) {
        if (this != &other) { Clear(); for (int32_t i = 0; i < other.mCount; ++i) Append(other.mItems[i]); }
        return *this;
    }
    Array& operator=(Array&& other) noexcept {
        if (this != &other) { Free(); std::swap(mCapacity, other.mCapacity); std::swap(mCount, other.mCount); std::swap(mItems, other.mItems); }
        return *this;
    }
    ~Array() { Free(); }

    int32_t GetCount() const { return mCount; }
    int32_t GetCapacity() const { return mCapacity; }
    bool IsIndexValid(int32_t index) const { return index >= 0 && index < mCount; }

    T& operator[](int32_t index) {
        if (!IsIndexValid(index)) { AssertFailed(u"IsIndexValid( index )", u"Common/Array", __LINE__); return Scratch(); }
        return mItems[index];
    }
    const T& operator[](int32_t index) const { return const_cast<Array*>(this)->operator[](index); }

    // Grows when full, then stores at count. Returns false when the storage cannot be had.
    // The element may be one of this array's own: it is copied before the storage moves.
    bool Append(const T& element) {
        if (mCount == mCapacity) {
            T copy(element);
            if (!Grow()) return false;
            new (&mItems[mCount]) T(std::move(copy));
        } else {
            new (&mItems[mCount]) T(element);
        }
        ++mCount;
        return true;
    }
    bool Append(T&& element) {
        if (mCount == mCapacity) {
            T moved(std::move(element));
            if (!Grow()) return false;
            new (&mItems[mCount]) T(std::move(moved));
        } else {
            new (&mItems[mCount]) T(std::move(element));
        }
        ++mCount;
        return true;
    }
    // Removes the element at index, keeping the order of the rest.
    void RemoveAt(int32_t index) {
        if (!IsIndexValid(index)) { AssertFailed(u"IsIndexValid( index )", u"Common/Array", __LINE__); return; }
        for (int32_t i = index; i + 1 < mCount; ++i) mItems[i] = std::move(mItems[i + 1]);
        mItems[--mCount].~T();
    }
    // count := 0, storage kept.
    void Clear() {
        for (int32_t i = 0; i < mCount; ++i) mItems[i].~T();
        mCount = 0;
    }
    T* begin() { return mItems; }
    T* end() { return mItems + mCount; }
    const T* begin() const { return mItems; }
    const T* end() const { return mItems + mCount; }

private:
    bool Grow() {
        int32_t capacity = mCapacity == 0 ? 16 : mCapacity * 2;
        T* items = static_cast<T*>(std::malloc(sizeof(T) * size_t(capacity)));
        if (!items) return false;
        for (int32_t i = 0; i < mCount; ++i) {
            new (&items[i]) T(std::move(mItems[i]));
            mItems[i].~T();
        }
        std::free(mItems);
        mItems = items;
        mCapacity = capacity;
        return true;
    }
    void Free() {
        Clear();
        std::free(mItems);
        mItems = _null;
        mCapacity = 0;
    }
    static T& Scratch() { static thread_local T scratch; scratch = T(); return scratch; }

    int32_t mCapacity;
    int32_t mCount;
    T* mItems;
};
