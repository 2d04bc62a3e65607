// Run-time library loading over dlopen.
#include "Source/Platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <cstdlib>
#include "Source/Common/StringEncoding.h"

LibraryHandle LoadDynamicLibrary(const WideChar* path, String* reason) {
    if (path == _null || path[0] == 0)
        return _null;
    char* utf8 = Utf16ToUtf8(_null, 0, path);
    if (utf8 == _null)
        return _null;
    // RTLD_LOCAL keeps one module's symbols from resolving another's: two game modules, or a
    // module and the loader, may export the same names.
    void* library = dlopen(utf8, RTLD_NOW | RTLD_LOCAL);
    free(utf8);
    const char* error = library == _null ? dlerror() : _null;
    // dlerror's text is in the locale's character set, UTF-8 here.
    WideChar* wide = error != _null && reason != _null ? Utf8ToUtf16(_null, 0, error) : _null;
    if (wide != _null) {
        *reason = wide;
        free(wide);
    }
    return library;
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
    if (library == _null || name == _null)
        return _null;
    return dlsym(library, name);
}

void UnloadDynamicLibrary(LibraryHandle library) {
    if (library != _null)
        dlclose(library);
}

void* ModuleBaseOf(const void* address) {
    Dl_info info;
    if (address == _null || dladdr(address, &info) == 0)
        return _null;
    return info.dli_fbase;
}
