// The host's library loading over dlopen, and where the running program is.
#include "HostLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

void* OpenLibraryFile(const std::string& path, std::string& reason) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        reason = text != nullptr ? text : "unknown reason";
    }
    return handle;
}

void* FindLibraryExport(void* handle, const char* name) {
    return dlsym(handle, name);
}

void CloseLibraryFile(void* handle) {
    dlclose(handle);
}

std::string ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return std::string();
    std::string text(path, size_t(length));
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}
