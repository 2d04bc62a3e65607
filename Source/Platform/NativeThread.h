// The operating system's threads under the worker threads: start, wait for the end, identity.
#pragma once

#include "Common/Types.h"

// Opaque; made by StartNativeThread, freed by JoinNativeThread.
struct NativeThread;

// Starts a thread running body(argument). Null when the system cannot start one. Where the
// library can be unloaded by its host, the thread holds the library until the body has
// returned, so that its code stays while the thread runs it.
NativeThread* StartNativeThread(void (*body)(void*), void* argument);

// Waits until the thread has ended and frees it. Never from the thread itself.
void JoinNativeThread(NativeThread* thread);

// The calling thread's system id, as a pointer-sized value for log lines.
void* CurrentNativeThreadId();

// What the worker service may still do with released threads at this moment.
enum NativeWaitPolicy : int32_t {
    kNativeWaitAllowed = 0,   // the normal case: waiting for threads is fine
    kNativeFreeEndedOnly = 1, // the library is unloaded under the system's loader lock
    kNativeTouchNothing = 2,  // the process is ending: other threads are gone mid-way
};
NativeWaitPolicy CurrentNativeWaitPolicy();
