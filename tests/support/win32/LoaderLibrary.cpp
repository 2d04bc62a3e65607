// The loader library as a Windows host opens it: LoadLibraryW.
#include "support/LoaderLibrary.h"

#include <windows.h>

#include <string>

#include "support/win32/WidePath.h"

void* LoaderLibrary::OpenLoaderFile(const char* path) { return LoadLibraryW(WidePath(path).c_str()); }

std::string LoaderLibrary::LastError() { return "error " + std::to_string(GetLastError()); }

bool LoaderLibrary::StillLoaded(const char* path) {
    // By its file name, as the system's list of loaded modules knows it whatever path opened it.
    const std::wstring wide = WidePath(path);
    return GetModuleHandleW(wide.substr(wide.find_last_of(L"\\/") + 1).c_str()) != nullptr;
}
