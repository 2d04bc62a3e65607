// Threads over CreateThread. Each thread holds a reference to the module its body lives in and
// ends with FreeLibraryAndExitThread, so a host that unloads the library while a stopped transfer
// still finishes does not pull the code from under it, and nothing has to wait inside DllMain.
#include "Source/Platform/NativeThread.h"

#include <windows.h>

#include <atomic>
#include <new>

#include "Source/Platform/win32/LibraryState.h"

struct NativeThread {
    HANDLE mHandle = _null;
    HMODULE mModule = _null;
    void (*mBody)(void*) = _null;
    void* mArgument = _null;
};

namespace {

std::atomic<int32_t> gPolicy{kNativeWaitAllowed};

DWORD WINAPI ThreadMain(void* parameter) {
    NativeThread* thread = static_cast<NativeThread*>(parameter);
    // Read before the body: the thread's owner may free the record once the body has ended.
    HMODULE module = thread->mModule;
    thread->mBody(thread->mArgument);
    FreeLibraryAndExitThread(module, 0);
}

} // namespace

NativeThread* StartNativeThread(void (*body)(void*), void* argument) {
    NativeThread* thread = new (std::nothrow) NativeThread();
    if (thread == _null)
        return _null;
    thread->mBody = body;
    thread->mArgument = argument;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&ThreadMain)), &thread->mModule)) {
        delete thread;
        return _null;
    }
    // Created suspended so that the record is complete before the thread reads it.
    thread->mHandle = CreateThread(_null, 0, ThreadMain, thread, CREATE_SUSPENDED, _null);
    if (thread->mHandle == _null) {
        FreeLibrary(thread->mModule);
        delete thread;
        return _null;
    }
    ResumeThread(thread->mHandle);
    return thread;
}

void JoinNativeThread(NativeThread* thread) {
    if (thread == _null)
        return;
    if (thread->mHandle != _null) {
        if (CurrentNativeWaitPolicy() == kNativeWaitAllowed)
            WaitForSingleObject(thread->mHandle, INFINITE);
        CloseHandle(thread->mHandle);
    }
    delete thread;
}

void* CurrentNativeThreadId() {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(GetCurrentThreadId()));
}

NativeWaitPolicy CurrentNativeWaitPolicy() {
    return NativeWaitPolicy(gPolicy.load());
}

void SetNativeWaitPolicy(NativeWaitPolicy policy) {
    gPolicy.store(policy);
}
