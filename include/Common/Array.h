// Growable array: capacity 16 at first use, then doubling (Common/ContainerStorage).
#pragma once

#include <utility>
#include "Common/ContainerStorage.h"
#include "Common/Types.h"

void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line);

// Allocates nothing until the first Append. Element access checks "IsIndexValid( index )"; an
// invalid index is reported and answered with a default-constructed scratch element.
template <typename T>
class Array {
public:
    Array() : mCount(0) {}
    Array(const Array& other) : Array() {
        for (const T& element : other) Append(element);
    }
    Array(Array&& other) noexcept : mCount(other.mCount), mStorage(std::move(other.mStorage)) { other.mCount = 0; }
    Array& operator=(const Array& other) {
        if (this != &other) {
            Clear();
            for (const T& element : other) Append(element);
        }
        return *this;
    }
    Array& operator=(Array&& other) noexcept {
        if (this != &other) {
            Free();
            mStorage.Swap(other.mStorage);
            std::swap(mCount, other.mCount);
        }
        return *this;
    }
    ~Array() { Free(); }

    int32_t GetCount() const { return mCount; }
    int32_t GetCapacity() const { return mStorage.GetCapacity(); }
    bool IsIndexValid(int32_t index) const { return index >= 0 && index < mCount; }

    T& operator[](int32_t index) {
        if (!IsIndexValid(index)) {
            AssertFailed(u"IsIndexValid( index )", u"Common/Array", __LINE__);
            return Scratch();
        }
        return mStorage.GetItems()[index];
    }
    const T& operator[](int32_t index) const { return const_cast<Array*>(this)->operator[](index); }

    // Grows when full, then stores at count. Returns false when the storage cannot be had.
    // The element may be one of this array's own.
    bool Append(const T& element) { return Add(element); }
    bool Append(T&& element) { return Add(std::move(element)); }
    // Removes the element at index, keeping the order of the rest.
    void RemoveAt(int32_t index) {
        if (!IsIndexValid(index)) {
            AssertFailed(u"IsIndexValid( index )", u"Common/Array", __LINE__);
            return;
        }
        T* items = mStorage.GetItems();
        for (int32_t i = index; i + 1 < mCount; ++i) items[i] = std::move(items[i + 1]);
        items[--mCount].~T();
    }
    // Removes the last element; nothing when the array is empty.
    void RemoveLast() {
        if (mCount > 0) mStorage.GetItems()[--mCount].~T();
    }
    // count := 0, storage kept.
    void Clear() {
        T* items = mStorage.GetItems();
        for (int32_t i = 0; i < mCount; ++i) items[i].~T();
        mCount = 0;
    }
    T* begin() { return mStorage.GetItems(); }
    T* end() { return mStorage.GetItems() + mCount; }
    const T* begin() const { return mStorage.GetItems(); }
    const T* end() const { return mStorage.GetItems() + mCount; }

private:
    template <typename U>
    bool Add(U&& element) {
        if (!mStorage.Store(std::forward<U>(element), mCount, mCount, 0, 0)) return false;
        ++mCount;
        return true;
    }
    void Free() {
        Clear();
        mStorage.Release();
    }
    static T& Scratch() {
        static thread_local T scratch;
        scratch = T();
        return scratch;
    }

    int32_t mCount;
    ContainerStorage<T> mStorage;
};
