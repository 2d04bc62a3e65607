// The stack bounds of a POSIX thread.
#include "Source/Platform/ThreadStack.h"

#include <pthread.h>

bool ThreadStackBounds(const char** low, size_t* size) {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return false;
    void* bottom = _null;
    int status = pthread_attr_getstack(&attributes, &bottom, size);
    pthread_attr_destroy(&attributes);
    *low = static_cast<const char*>(bottom);
    return status == 0;
}
