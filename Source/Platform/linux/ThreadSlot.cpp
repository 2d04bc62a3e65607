// The thread-local slot over a POSIX thread key.
#include "Source/Platform/ThreadSlot.h"

#include <pthread.h>

bool AllocateThreadSlot(ThreadSlot& slot) {
    pthread_key_t key;
    slot.allocated = pthread_key_create(&key, _null) == 0;
    slot.key = slot.allocated ? uint32_t(key) : 0;
    return slot.allocated;
}

void FreeThreadSlot(ThreadSlot& slot) {
    if (slot.allocated)
        pthread_key_delete(pthread_key_t(slot.key));
    slot.allocated = false;
    slot.key = 0;
}

void* GetThreadSlotValue(const ThreadSlot& slot) {
    return slot.allocated ? pthread_getspecific(pthread_key_t(slot.key)) : _null;
}

bool SetThreadSlotValue(const ThreadSlot& slot, void* value) {
    return slot.allocated && pthread_setspecific(pthread_key_t(slot.key), value) == 0;
}
