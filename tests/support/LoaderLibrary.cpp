#include "support/LoaderLibrary.h"

#include <dlfcn.h>

namespace {

template <typename Function>
Function Export(void* handle, const char* name) {
    return reinterpret_cast<Function>(dlsym(handle, name));
}

} // namespace

bool LoaderLibrary::Open(const char* path) {
    mHandle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
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
        dlclose(mHandle);
    *this = LoaderLibrary();
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
