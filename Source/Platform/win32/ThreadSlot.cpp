// The thread-local slot over a Windows TLS index.
#include "Source/Platform/ThreadSlot.h"

#include <windows.h>

bool AllocateThreadSlot(ThreadSlot& slot) {
    DWORD index = TlsAlloc();
    slot.allocated = index != TLS_OUT_OF_INDEXES;
    slot.key = slot.allocated ? uint32_t(index) : 0;
    return slot.allocated;
}

void FreeThreadSlot(ThreadSlot& slot) {
    if (slot.allocated)
        TlsFree(DWORD(slot.key));
    slot.allocated = false;
    slot.key = 0;
}

void* GetThreadSlotValue(const ThreadSlot& slot) {
    return slot.allocated ? TlsGetValue(DWORD(slot.key)) : _null;
}

bool SetThreadSlotValue(const ThreadSlot& slot, void* value) {
    return slot.allocated && TlsSetValue(DWORD(slot.key), value) != 0;
}
