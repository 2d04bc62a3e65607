// Growable stack: capacity 16 at first use, then doubling.
#pragma once

#include <cstdlib>
#include <new>
#include <utility>
#include "Common/Types.h"

void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line);

// Top on an empty stack reports "mLength > 0" and returns a default-constructed scratch element.
template <typename T>
class Stack {
public:
    Stack() : mCapacity(0), mLength(0), mItems(_null) {}
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;
    ~Stack() { Clear(); std::free(mItems); }

    int32_t GetCount() const { return mLength; }
    int32_t GetCapacity() const { return mCapacity; }

    // The element may be one of this stack's own: it is copied before the storage moves.
    bool Push(const T& element) {
        if (mLength == mCapacity) {
            T copy(element);
            if (!Grow()) return false;
            new (&mItems[mLength]) T(std::move(copy));
        } else {
            new (&mItems[mLength]) T(element);
        }
        ++mLength;
        return true;
    }
    T& Top() {
        if (!(mLength > 0)) {
            AssertFailed(u"mLength > 0", u"Common/Stack", __LINE__);
            static thread_local T scratch;
            scratch = T();
            return scratch;
        }
        return mItems[mLength - 1];
    }
    // Element i counted from the bottom (0 <= i < count); no check.
    T& At(int32_t index) { return mItems[index]; }
    void Pop() {
        if (mLength > 0) mItems[--mLength].~T();
    }
    void Clear() {
        while (mLength > 0) mItems[--mLength].~T();
    }

private:
    bool Grow() {
        int32_t capacity = mCapacity == 0 ? 16 : mCapacity * 2;
        T* items = static_cast<T*>(std::malloc(sizeof(T) * size_t(capacity)));
        if (!items) return false;
        for (int32_t i = 0; i < mLength; ++i) {
            new (&items[i]) T(std::move(mItems[i]));
            mItems[i].~T();
        }
        std::free(mItems);
        mItems = items;
        mCapacity = capacity;
        return true;
    }

    int32_t mCapacity;
    int32_t mLength;
    T* mItems;
};
