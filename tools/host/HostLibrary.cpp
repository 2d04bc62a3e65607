// Loading the loader library and binding its eight exports.
#include "HostLibrary.h"

namespace {

template <typename T>
bool Bind(void* handle, const char* name, T& slot, std::string& error) {
    slot = reinterpret_cast<T>(FindLibraryExport(handle, name));
    if (slot == nullptr) {
        error = std::string("the library does not export ") + name;
        return false;
    }
    return true;
}

} // namespace

bool HostLibrary::Load(const std::string& path, std::string& error) {
    Unload();
    std::string reason;
    mHandle = OpenLibraryFile(path, reason);
    if (mHandle == nullptr) {
        error = "cannot load " + path + ": " + reason;
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
    if (mHandle != nullptr) CloseLibraryFile(mHandle);
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
