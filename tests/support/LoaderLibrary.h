// The loader library as a host loads it: Vexal3DLoader-Flash.so opened with dlopen and its eight
// exports looked up by name.
#pragma once

#include <string>

#include "Vexal3DLoader.h"

struct LoaderLibrary {
    // Opens the library at path (RTLD_NOW | RTLD_LOCAL) and looks up all eight exports. False when
    // it does not open or lacks an export; LastError() then tells why. Not thread-safe.
    bool Open(const char* path);
    // Why the last Open failed, in the system's words (dlerror, or the last error's code).
    static std::string LastError();
    // Whether the library at path is still loaded in this process (after Close, by another
    // reference, or because the system keeps it).
    static bool StillLoaded(const char* path);
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
