// Temporary folders and plain file helpers for tests, on Windows: a fresh folder under the
// user's temporary folder, removed with its read-only entries afterwards.
#include "support/ScratchFolder.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring WidePath(const std::string& utf8) {
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

std::string Utf8Path(const wchar_t* wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(strlen(utf8.c_str()));
    return utf8;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

} // namespace

ScratchFolder::ScratchFolder() {
    wchar_t root[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, root);
    if (length == 0 || length > MAX_PATH)
        return;
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[MAX_PATH + 64];
        swprintf(name, sizeof(name) / sizeof(name[0]), L"%lsvexal-test-%lu-%u-%u", root,
                 static_cast<unsigned long>(GetCurrentProcessId()), unsigned(GetTickCount()), serial++);
        if (CreateDirectoryW(name, nullptr)) {
            mPath = Utf8Path(name);
            return;
        }
    }
}

ScratchFolder::~ScratchFolder() {
    if (!mPath.empty())
        RemoveTree(WidePath(mPath));
}

std::string ScratchFolder::Native(const std::string& name) const {
    if (name.empty())
        return mPath;
    std::string joined = mPath + "\\" + name;
    for (char& c : joined)
        if (c == '/')
            c = '\\';
    return joined;
}

FILE* OpenNativeFile(const std::string& path, bool write) {
    return _wfopen(WidePath(path).c_str(), write ? L"wb" : L"rb");
}
