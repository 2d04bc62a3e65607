// The slots behind the engine's growable containers (Array, Queue, and Stack through Array) and
// their one growth rule: nothing until the first element, 16 slots at the first growth, then
// doubling, up to kMaxCapacity; storage from malloc.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include "Common/Types.h"

// Owns the raw slots only: the container constructs and destroys the elements in them and knows
// where they stand. Not copyable; moving hands the slots over.
template <typename T>
class ContainerStorage {
public:
    static constexpr int32_t kFirstCapacity = 16;
    // Doubling stops here: the next step would not fit the containers' 32-bit counts. Whatever
    // the input, a container holds at most this many elements; the next store fails.
    static constexpr int32_t kMaxCapacity = 1 << 30;

    ContainerStorage() : mItems(_null), mCapacity(0) {}
    ContainerStorage(ContainerStorage&& other) noexcept : mItems(other.mItems), mCapacity(other.mCapacity) {
        other.mItems = _null;
        other.mCapacity = 0;
    }
    ContainerStorage(const ContainerStorage&) = delete;
    ContainerStorage& operator=(const ContainerStorage&) = delete;
    ContainerStorage& operator=(ContainerStorage&&) = delete;
    ~ContainerStorage() { std::free(mItems); }

    int32_t GetCapacity() const { return mCapacity; }
    T* GetItems() const { return mItems; }
    void Swap(ContainerStorage& other) {
        std::swap(mItems, other.mItems);
        std::swap(mCapacity, other.mCapacity);
    }
    // Frees the slots; the elements in them must have been destroyed.
    void Release() {
        std::free(mItems);
        mItems = _null;
        mCapacity = 0;
    }

    // Constructs element in slot `slot` while the count is below the capacity. At the capacity
    // the storage grows first: the count elements standing from slot front on (wrapping after
    // the last of the capacity + spare slots) move to slots 0 to count - 1 in order, and the
    // element goes into slot count. The element may be one of the stored ones: it is taken aside
    // before they move. False, with the elements as they were, when the capacity is already
    // kMaxCapacity or memory is short.
    template <typename U>
    bool Store(U&& element, int32_t count, int32_t slot, int32_t front, int32_t spare) {
        if (count != mCapacity) {
            new (&mItems[slot]) T(std::forward<U>(element));
            return true;
        }
        T aside(std::forward<U>(element));
        if (!Grow(count, front, spare)) return false;
        new (&mItems[count]) T(std::move(aside));
        return true;
    }

private:
    bool Grow(int32_t count, int32_t front, int32_t spare) {
        if (mCapacity >= kMaxCapacity) return false;
        int32_t capacity = mCapacity == 0 ? kFirstCapacity : mCapacity * 2;
        size_t slots = size_t(capacity) + size_t(spare);
        if (slots > SIZE_MAX / sizeof(T)) return false;
        T* items = static_cast<T*>(std::malloc(sizeof(T) * slots));
        if (!items) return false;
        // The elements up to the end of the old slots, then those that wrapped to its start.
        int32_t beforeWrap = mCapacity + spare - front;
        if (beforeWrap > count) beforeWrap = count;
        MoveElements(items, mItems + front, beforeWrap);
        MoveElements(items + beforeWrap, mItems, count - beforeWrap);
        std::free(mItems);
        mItems = items;
        mCapacity = capacity;
        return true;
    }

    static void MoveElements(T* to, T* from, int32_t count) {
        for (int32_t i = 0; i < count; ++i) {
            new (&to[i]) T(std::move(from[i]));
            from[i].~T();
        }
    }

    T* mItems;
    int32_t mCapacity;
};
