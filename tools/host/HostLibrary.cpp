// Loading the loader library and binding its eight exports.
#include "HostLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace {

template <typename T>
bool Bind(void* handle, const char* name, T& slot, std::string& error) {
    slot = reinterpret_cast<T>(dlsym(handle, name));
    if (slot == nullptr) {
        error = std::string("the library does not export ") + name;
        return false;
    }
    return true;
}

} // namespace

bool HostLibrary::Load(const std::string& path, std::string& error) {
    Unload();
    mHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (mHandle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
        return false;
    }
    if (!Bind(mHandle, "_VexalCreate", mCreate, error) || !Bind(mHandle, "_VexalDelete", mDelete, error) ||
        !Bind(mHandle, "_VexalSetup", mSetup, error) || !Bind(mHandle, "_VexalStart", mStart, error) ||
        !Bind(mHandle, "_VexalUpdate", mUpdate, error) || !Bind(mHandle, "_VexalRender", mRender, error) ||
        !Bind(mHandle, "_VexalMessage", mMessage, error) || !Bind(mHandle, "_VexalProgress", mProgress, error)) {
        error = path + ": " + error;
        Unload();
        return false;
    }
    return true;
}

void HostLibrary::Unload() {
    if (mHandle != nullptr) dlclose(mHandle);
    mHandle = nullptr;
    mCreate = nullptr;
    mDelete = nullptr;
    mSetup = nullptr;
    mStart = nullptr;
    mUpdate = nullptr;
    mRender = nullptr;
    mMessage = nullptr;
    mProgress = nullptr;
}

std::string ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return std::string();
    std::string text(path, size_t(length));
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}
