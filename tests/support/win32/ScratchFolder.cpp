// Temporary folders and plain file helpers for tests, on Windows: a fresh folder under the
// user's temporary folder, removed with its read-only entries afterwards.
#include "support/ScratchFolder.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/win32/WidePath.h"

namespace {

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

bool MakeNativeFolders(const std::string& path) {
    const std::wstring wide = WidePath(path);
    for (size_t at = wide.find_first_of(L"\\/", 3); at != std::wstring::npos; at = wide.find_first_of(L"\\/", at + 1))
        CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
    return CreateDirectoryW(wide.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool NativeEntryExists(const std::string& path) {
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsNativeFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool MakeNativePipe(const std::string&) { return false; }

bool MakeNativeLink(const std::string&, const std::string&) { return false; }

namespace {

std::string EntryState(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written) {
    return std::to_string(attributes) + " " + std::to_string((uint64_t(sizeHigh) << 32) | sizeLow) + " " +
           std::to_string((uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime);
}

void ListFolder(const std::wstring& folder, const std::string& name, std::vector<NativeEntry>& listing) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring child = entry.cFileName;
        if (child == L"." || child == L"..")
            continue;
        const std::string childName = (name.empty() ? "" : name + "/") + Utf8Path(entry.cFileName);
        const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        listing.push_back({childName,
                           EntryState(entry.dwFileAttributes, entry.nFileSizeHigh, entry.nFileSizeLow, entry.ftLastWriteTime),
                           !isFolder && !isLink});
        if (isFolder && !isLink)
            ListFolder(folder + L"\\" + child, childName, listing);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

} // namespace

std::vector<NativeEntry> ListNativeTree(const std::string& root) {
    std::vector<NativeEntry> listing;
    WIN32_FILE_ATTRIBUTE_DATA data;
    const std::wstring wide = WidePath(root);
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
        return listing;
    listing.push_back({".", EntryState(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime),
                       false});
    ListFolder(wide, "", listing);
    return listing;
}
