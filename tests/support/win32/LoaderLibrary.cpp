// The loader library as a Windows host loads it: LoadLibraryW and GetProcAddress.
#include "support/LoaderLibrary.h"

#include <windows.h>

#include <string>

#include "support/win32/WidePath.h"

namespace {

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
