// The loader library as a Windows host opens it: LoadLibraryW.
#include "support/LoaderLibrary.h"

#include <windows.h>

#include <string>

void* LoaderLibrary::OpenLoaderFile(const char* path) {
    int length = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), length);
    return LoadLibraryW(wide.c_str());
}
