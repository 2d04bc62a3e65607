// A thread-local slot: one pointer per thread under a process-wide key.
#pragma once

#include "Common/Types.h"

struct ThreadSlot {
    uint32_t key;
    bool allocated;
};

// Allocates the slot's key; every thread's value starts as _null. False when the system has no
// key left (the slot stays unallocated and reads as _null).
bool AllocateThreadSlot(ThreadSlot& slot);
// Frees the key; the values are forgotten, never freed.
void FreeThreadSlot(ThreadSlot& slot);
// The calling thread's value; _null when unset or the slot is not allocated.
void* GetThreadSlotValue(const ThreadSlot& slot);
// Sets the calling thread's value; false when the slot is not allocated or the system refused.
bool SetThreadSlotValue(const ThreadSlot& slot, void* value);
