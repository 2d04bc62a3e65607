// String-keyed hash table with a fixed bucket count: chains in ascending hash order, an
// insertion-ordered list through all entries, exact-key lookup over a case-folded hash.
#pragma once

#include <cstdlib>
#include <new>
#include <utility>
#include "Common/Types.h"
#include "Source/Common/String.h"

template <typename V>
class HashTable {
public:
    struct Entry {
        V mValue;
        String mKey;
        Entry* mPrev; // insertion order
        Entry* mNext;
        Entry* mChainPrev; // bucket chain, ascending hash
        Entry* mChainNext;
        uint32_t mHash;
    };

    explicit HashTable(uint32_t bucketCount = 397)
        : mBucketCount(bucketCount ? bucketCount : 1), mBuckets(_null), mHead(_null), mTail(_null), mCount(0) {}
    HashTable(const HashTable&) = delete;
    HashTable& operator=(const HashTable&) = delete;
    ~HashTable() { Destroy(); }

    int32_t GetCount() const { return mCount; }
    uint32_t GetBucketCount() const { return mBucketCount; }
    Entry* GetHead() const { return mHead; }
    // Walks a bucket chain (tests and dumps).
    Entry* GetBucket(uint32_t index) const { return mBuckets ? mBuckets[index] : _null; }

    // Always adds a new entry (no check for an existing key); none when memory is short.
    Entry* Insert(const WideChar* key) {
        if (mBuckets == _null) {
            mBuckets = static_cast<Entry**>(std::calloc(mBucketCount, sizeof(Entry*)));
            if (!mBuckets) return _null;
        }
        Entry* entry = static_cast<Entry*>(std::malloc(sizeof(Entry)));
        if (!entry) return _null;
        new (entry) Entry{V(), String(key), mTail, _null, _null, _null, HashNoCase(key)};
        Entry** slot = &mBuckets[entry->mHash % mBucketCount];
        Entry* previous = _null;
        for (Entry* e = *slot; e && e->mHash <= entry->mHash; e = e->mChainNext) previous = e;
        entry->mChainPrev = previous;
        entry->mChainNext = previous ? previous->mChainNext : *slot;
        if (entry->mChainNext) entry->mChainNext->mChainPrev = entry;
        if (previous) previous->mChainNext = entry;
        else *slot = entry;
        if (mTail) mTail->mNext = entry;
        else mHead = entry;
        mTail = entry;
        ++mCount;
        return entry;
    }

    // The first entry of the bucket whose key equals the key exactly (case-sensitive).
    Entry* Find(const WideChar* key) const {
        if (mBuckets == _null) return _null;
        uint32_t hash = HashNoCase(key);
        for (Entry* e = mBuckets[hash % mBucketCount]; e && e->mHash <= hash; e = e->mChainNext)
            if (e->mHash == hash && e->mKey.Compare(key, true) == 0) return e;
        return _null;
    }

    // Unlinks and frees one entry.
    void Remove(Entry* entry) {
        if (entry == _null) return;
        if (entry->mChainPrev) entry->mChainPrev->mChainNext = entry->mChainNext;
        else mBuckets[entry->mHash % mBucketCount] = entry->mChainNext;
        if (entry->mChainNext) entry->mChainNext->mChainPrev = entry->mChainPrev;
        if (entry->mPrev) entry->mPrev->mNext = entry->mNext;
        else mHead = entry->mNext;
        if (entry->mNext) entry->mNext->mPrev = entry->mPrev;
        else mTail = entry->mPrev;
        entry->~Entry();
        std::free(entry);
        --mCount;
    }

    // Frees every entry bucket by bucket, then the bucket array.
    void Destroy() {
        if (mBuckets) {
            for (uint32_t b = 0; b < mBucketCount; ++b) {
                for (Entry* e = mBuckets[b]; e;) {
                    Entry* next = e->mChainNext;
                    e->~Entry();
                    std::free(e);
                    e = next;
                }
            }
            std::free(mBuckets);
        }
        mBuckets = _null;
        mHead = mTail = _null;
        mCount = 0;
    }

private:
    uint32_t mBucketCount;
    Entry** mBuckets;
    Entry* mHead;
    Entry* mTail;
    int32_t mCount;
};
