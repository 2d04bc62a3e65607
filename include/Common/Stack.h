// Stack over an Array: capacity 16 at first use, then doubling.
#pragma once

#include "Common/Array.h"
#include "Common/Types.h"

// Top on an empty stack reports "mLength > 0" and returns a default-constructed scratch element.
template <typename T>
class Stack {
public:
    Stack() = default;
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;
    ~Stack() { Clear(); }

    int32_t GetCount() const { return mItems.GetCount(); }
    int32_t GetCapacity() const { return mItems.GetCapacity(); }

    // The element may be one of this stack's own.
    bool Push(const T& element) { return mItems.Append(element); }
    T& Top() {
        int32_t length = mItems.GetCount();
        if (length <= 0) {
            AssertFailed(u"mLength > 0", u"Common/Stack", __LINE__);
            static thread_local T scratch;
            scratch = T();
            return scratch;
        }
        return mItems.begin()[length - 1];
    }
    // Element i counted from the bottom (0 <= i < count); no check.
    T& At(int32_t index) { return mItems.begin()[index]; }
    void Pop() { mItems.RemoveLast(); }
    // Drops the elements from the top down; storage kept.
    void Clear() {
        while (mItems.GetCount() > 0) mItems.RemoveLast();
    }

private:
    Array<T> mItems;
};
