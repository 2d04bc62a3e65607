// Threads over std::thread; the thread id is the kernel's.
#include "Source/Platform/NativeThread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <new>
#include <thread>

struct NativeThread {
    std::thread mThread;
};

NativeThread* StartNativeThread(void (*body)(void*), void* argument) {
    NativeThread* thread = new (std::nothrow) NativeThread();
    if (thread == _null) return _null;
    // std::thread reports a failure to start by throwing; the engine's code never lets one
    // escape, so the attempt is contained here and turned into the documented result.
    try {
        thread->mThread = std::thread(body, argument);
    } catch (...) {
        delete thread;
        return _null;
    }
    return thread;
}

void JoinNativeThread(NativeThread* thread) {
    if (thread == _null) return;
    if (thread->mThread.joinable()) thread->mThread.join();
    delete thread;
}

void* CurrentNativeThreadId() {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(syscall(SYS_gettid)));
}

// The library's unload runs as an ordinary function here: waiting is always fine.
NativeWaitPolicy CurrentNativeWaitPolicy() { return kNativeWaitAllowed; }
