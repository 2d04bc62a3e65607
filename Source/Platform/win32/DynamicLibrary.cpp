// Run-time library loading over LoadLibraryW, with the system's own text for a failure.
#include "Source/Platform/DynamicLibrary.h"

#include <windows.h>

#include "Source/Platform/win32/SystemError.h"
#include "Source/Platform/win32/WideText.h"

LibraryHandle LoadDynamicLibrary(const WideChar* path, String* reason) {
    if (path == _null || path[0] == 0)
        return _null;
    // No "cannot find the file" box from the system for a missing dependency.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryW(SystemText(path));
    DWORD error = library == _null ? GetLastError() : 0;
    SetErrorMode(previous);
    if (library == _null && reason != _null)
        *reason = SystemErrorText(error);
    return library;
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
    if (library == _null || name == _null)
        return _null;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadDynamicLibrary(LibraryHandle library) {
    if (library != _null)
        FreeLibrary(static_cast<HMODULE>(library));
}

void* ModuleBaseOf(const void* address) {
    HMODULE module = _null;
    if (address == _null ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return _null;
    return module;
}
