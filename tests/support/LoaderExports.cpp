// Binding the loader library's eight exports, the same on every system; opening the file is the
// platform's LoaderLibrary.cpp.
#include "support/LoaderLibrary.h"

#include "Source/Platform/DynamicLibrary.h"

namespace {

template <typename Function>
Function Export(void* handle, const char* name) {
    return reinterpret_cast<Function>(FindLibrarySymbol(handle, name));
}

} // namespace

bool LoaderLibrary::Open(const char* path) {
    mHandle = OpenLoaderFile(path);
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
    UnloadDynamicLibrary(mHandle);
    *this = LoaderLibrary();
}
