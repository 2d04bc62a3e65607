// The loader library as a host loads it: Vexal3DLoader-Flash.so opened with dlopen and its eight
// exports looked up by name.
#pragma once

#include "Vexal3DLoader.h"

struct LoaderLibrary {
    // Opens the library at path (RTLD_NOW | RTLD_LOCAL) and looks up all eight exports. False when
    // it does not open or lacks an export; dlerror() then tells why. Not thread-safe.
    bool Open(const char* path);
    // Closes the library (when open) and forgets every export. A library never closed stays loaded
    // for the rest of the process, as hosts keep it.
    void Close();
    // The system's open of the file (dlopen, LoadLibraryW); nullptr when it does not open.
    static void* OpenLoaderFile(const char* path);

    void* mHandle = nullptr;
    VexalCreateFunction mCreate = nullptr;
    VexalDeleteFunction mDelete = nullptr;
    VexalSetupFunction mSetup = nullptr;
    VexalStartFunction mStart = nullptr;
    VexalUpdateFunction mUpdate = nullptr;
    VexalRenderFunction mRender = nullptr;
    VexalMessageFunction mMessage = nullptr;
    VexalProgressFunction mProgress = nullptr;
};
