// The loader library as a host opens it on Linux: dlopen, every symbol resolved, kept local.
#include "support/LoaderLibrary.h"

#include <dlfcn.h>

void* LoaderLibrary::OpenLoaderFile(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

std::string LoaderLibrary::LastError() {
    const char* error = dlerror();
    return error != nullptr ? error : "";
}

bool LoaderLibrary::StillLoaded(const char* path) {
    void* still = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (still != nullptr)
        dlclose(still);
    return still != nullptr;
}
