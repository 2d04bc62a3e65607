// Ring-buffer queue: capacity + 1 slots, indexes wrap modulo capacity + 1; repacks on growth.
#pragma once

#include "Common/ContainerStorage.h"
#include "Common/Types.h"

void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line);

// Allocates nothing until the first Push. Pop on an empty queue reports "IsIndexValid( mFront )"
// and returns a default-constructed element.
template <typename T>
class Queue {
public:
    Queue() : mCount(0), mFront(0), mBack(0) {}
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;
    ~Queue() { Clear(); }

    int32_t GetCount() const { return mCount; }
    int32_t GetCapacity() const { return mStorage.GetCapacity(); }
    int32_t GetFront() const { return mFront; }
    int32_t GetBack() const { return mBack; }
    bool IsIndexValid(int32_t index) const {
        return (mBack >= index && index < mBack) || (mBack < index && index <= mStorage.GetCapacity());
    }

    // The element may be one of this queue's own. A push beyond the capacity repacks the elements
    // from the front: afterwards front = 0 and back = count.
    bool Push(const T& element) {
        bool grows = mCount == mStorage.GetCapacity();
        if (!mStorage.Store(element, mCount, mBack, mFront, 1)) return false;
        if (grows) {
            mFront = 0;
            mBack = mCount;
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
        T& front = mStorage.GetItems()[mFront];
        T element(std::move(front));
        front.~T();
        --mCount;
        mFront = Next(mFront);
        return element;
    }
    // Drops every element; storage kept.
    void Clear() {
        while (mCount > 0) {
            mStorage.GetItems()[mFront].~T();
            mFront = Next(mFront);
            --mCount;
        }
        mFront = mBack = 0;
    }

private:
    // The slot after index, wrapping past the last of the capacity + 1 slots (a compare: the
    // pool of the script call protocol takes and returns a buffer on every text parameter).
    int32_t Next(int32_t index) const { return index == mStorage.GetCapacity() ? 0 : index + 1; }

    int32_t mCount;
    int32_t mFront;
    int32_t mBack;
    ContainerStorage<T> mStorage; // capacity + 1 slots
};
