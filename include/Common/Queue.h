// Ring-buffer queue: capacity + 1 slots, indexes wrap modulo capacity + 1; repacks on growth.
#pragma once

#include <cstdlib>
#include <new>
#include <utility>
#include "Common/Types.h"

void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line);

// Allocates nothing until the first Push. Pop on an empty queue reports "IsIndexValid( mFront )"
// and returns a default-constructed element.
template <typename T>
class Queue {
public:
    Queue() : mCapacity(0), mCount(0), mFront(0), mBack(0), mItems(_null) {}
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;
    ~Queue() { Clear(); std::free(mItems); }

    int32_t GetCount() const { return mCount; }
    int32_t GetCapacity() const { return mCapacity; }
    int32_t GetFront() const { return mFront; }
    int32_t GetBack() const { return mBack; }
    bool IsIndexValid(int32_t index) const {
        return (mBack >= index && index < mBack) || (mBack < index && index <= mCapacity);
    }

    // The element may be one of this queue's own: it is copied before the storage moves.
    bool Push(const T& element) {
        if (mCount == mCapacity) {
            T copy(element);
            if (!Grow()) return false;
            new (&mItems[mBack]) T(std::move(copy));
        } else {
            new (&mItems[mBack]) T(element);
        }
        mBack = Next(mBack);
        ++mCount;
        return true;
    }
    T Pop() {
        if (!IsIndexValid(mFront) || mCount == 0) {
            AssertFailed(u"IsIndexValid( mFront )", u"Common/Queue", __LINE__);
            return T();
        }
        T element(std::move(mItems[mFront]));
        mItems[mFront].~T();
        --mCount;
        mFront = Next(mFront);
        return element;
    }
    // Drops every element; storage kept.
    void Clear() {
        while (mCount > 0) {
            mItems[mFront].~T();
            mFront = Next(mFront);
            --mCount;
        }
        mFront = mBack = 0;
    }

private:
    // The slot after index, wrapping past the last of the capacity + 1 slots (a compare: the
    // pool of the script call protocol takes and returns a buffer on every text parameter).
    int32_t Next(int32_t index) const { return index == mCapacity ? 0 : index + 1; }

    bool Grow() {
        int32_t capacity = mCapacity == 0 ? 16 : mCapacity * 2;
        T* items = static_cast<T*>(std::malloc(sizeof(T) * size_t(capacity + 1)));
        if (!items) return false;
        for (int32_t i = 0; i < mCount; ++i) {
            int32_t from = (mFront + i) % (mCapacity + 1);
            new (&items[i]) T(std::move(mItems[from]));
            mItems[from].~T();
        }
        std::free(mItems);
        mItems = items;
        mCapacity = capacity;
        mFront = 0;
        mBack = mCount;
        return true;
    }

    int32_t mCapacity;
    int32_t mCount;
    int32_t mFront;
    int32_t mBack;
    T* mItems;
};
