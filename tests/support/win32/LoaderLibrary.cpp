// The loader library as a Windows host loads it: LoadLibraryW and GetProcAddress.
#include "support/LoaderLibrary.h"

#include <windows.h>

#include <string>

namespace {

std::wstring WidePath(const char* path) {
    int length = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), length);
    return wide;
}

template <typename Function>
Function Export(void* handle, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name)));
}

} // namespace

bool LoaderLibrary::Open(const char* path) {
    mHandle = LoadLibraryW(WidePath(path).c_str());
    if (mHandle == nullptr)
        return false;
    mCreate = Export<VexalCreateFunction>(mHandle, "_VexalCreate");
    mDelete = Export<VexalDeleteFunction>(mHandle, "_VexalDelete");
    mSetup = Export<VexalSetupFunction>(mHandle, "_VexalSetup");
    mStart = Export<VexalStartFunction>(mHandle, "_VexalStart");
    mUpdate = Export<VexalUpdateFunction>(mHandle, "_VexalUpdate");
    mRender = Export<VexalRenderFunction>(mHandle, "_VexalRender");
    mMessage = Export<VexalMessageFunction>(mHandle, "_VexalMessage");
    mProgress = Export<VexalProgressFunction>(mHandle, "_VexalProgress");
    return mCreate && mDelete && mSetup && mStart && mUpdate && mRender && mMessage && mProgress;
}

void LoaderLibrary::Close() {
    if (mHandle != nullptr)
        FreeLibrary(static_cast<HMODULE>(mHandle));
    *this = LoaderLibrary();
}

std::string LoaderLibrary::LastError() { return "error " + std::to_string(GetLastError()); }

bool LoaderLibrary::StillLoaded(const char* path) {
    // By its file name, as the system's list of loaded modules knows it whatever path opened it.
    const std::wstring wide = WidePath(path);
    return GetModuleHandleW(wide.substr(wide.find_last_of(L"\\/") + 1).c_str()) != nullptr;
}
