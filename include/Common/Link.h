// Intrusive doubly linked list: the node type carries its own mPrev / mNext pointers.
#pragma once

#include "Common/Types.h"

void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line);

// N must have members `N* mPrev; N* mNext;`. The list never allocates or frees nodes.
template <typename N>
class Link {
public:
    Link() : mHead(_null), mTail(_null), mCount(0) {}

    N* GetHead() const { return mHead; }
    N* GetTail() const { return mTail; }
    int32_t GetCount() const { return mCount; }

    // Links node after position (at the head when position is none and the list is not empty).
    void InsertAfter(N* node, N* position) {
        if (node == _null) {
            AssertFailed(u"node != _null", u"Common/Link", __LINE__);
            return;
        }
        if (mHead == _null) {
            node->mPrev = node->mNext = _null;
            mHead = mTail = node;
        } else if (position == _null) {
            node->mPrev = _null;
            node->mNext = mHead;
            mHead->mPrev = node;
            mHead = node;
        } else {
            node->mPrev = position;
            node->mNext = position->mNext;
            if (position->mNext) position->mNext->mPrev = node;
            position->mNext = node;
            if (node->mPrev == _null) mHead = node;
            if (node->mNext == _null) mTail = node;
        }
        ++mCount;
    }
    void Append(N* node) { InsertAfter(node, mTail); }
    // Unlinks node (which must be in this list).
    void Remove(N* node) {
        if (node == _null) {
            AssertFailed(u"node != _null", u"Common/Link", __LINE__);
            return;
        }
        if (node->mPrev) node->mPrev->mNext = node->mNext;
        else mHead = node->mNext;
        if (node->mNext) node->mNext->mPrev = node->mPrev;
        else mTail = node->mPrev;
        node->mPrev = node->mNext = _null;
        --mCount;
    }
    // Forgets every node without touching them (the owner frees them).
    void Reset() {
        mHead = mTail = _null;
        mCount = 0;
    }

private:
    N* mHead;
    N* mTail;
    int32_t mCount;
};
