// The loader library as the host sees it: loaded by the system's loader, its eight exports
// looked up.
#pragma once

#include <string>

#include "Vexal3DLoader.h"

class HostLibrary {
public:
    HostLibrary() = default;
    // Leaves a loaded library loaded: libraries it pulled in (text layout, image loaders) keep
    // caches until the process ends, and unloading them at exit only turns those into noise.
    ~HostLibrary() = default;
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;

    // Loads the library and looks up all eight exports. False with a one-line reason in error
    // when the file cannot be loaded or an export is missing (nothing stays loaded then).
    bool Load(const std::string& path, std::string& error);
    // Unloads the library; the entry points become none. Safe to call twice.
    void Unload();

    decltype(&_VexalCreate) mCreate = nullptr;
    decltype(&_VexalDelete) mDelete = nullptr;
    decltype(&_VexalSetup) mSetup = nullptr;
    decltype(&_VexalStart) mStart = nullptr;
    decltype(&_VexalUpdate) mUpdate = nullptr;
    decltype(&_VexalRender) mRender = nullptr;
    decltype(&_VexalMessage) mMessage = nullptr;
    decltype(&_VexalProgress) mProgress = nullptr;

private:
    void* mHandle = nullptr;
};

// The folder of the running executable ("" when the system cannot tell it).
std::string ExecutableFolder();

// The system's side of HostLibrary (one per platform): the library opened with every symbol
// resolved and kept local to it (nullptr with the system's words in reason), the address of an
// export (nullptr when missing), and closing it.
void* OpenLibraryFile(const std::string& path, std::string& reason);
void* FindLibraryExport(void* handle, const char* name);
void CloseLibraryFile(void* handle);
