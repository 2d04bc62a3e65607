// The file module's system calls over Windows: CreateFileW handles shared for reading, writing
// and deletion, attributes, folders, the current directory, the module path and the profile
// folder.
#include "Source/Platform/File.h"

#include <windows.h>
#include <shlobj.h>

#include "Source/Platform/FileNative.h"
#include "Source/Platform/win32/SystemError.h"
#include "Source/Platform/win32/WideText.h"

namespace {

// The longest path the current-directory and executable queries return, in units.
constexpr int32_t kPathLimit = 1024;

HANDLE Native(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

intptr_t Engine(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

DWORD Attributes(const WideChar* path) {
    return path != _null && path[0] != 0 ? GetFileAttributesW(SystemText(path)) : INVALID_FILE_ATTRIBUTES;
}

String FromSystem(const wchar_t* text, DWORD length) {
    if (length == 0 || length >= DWORD(kPathLimit))
        return String();
    return String(EngineText(text), int32_t(length));
}

} // namespace

namespace NativeFile {

int32_t Error() {
    return int32_t(GetLastError());
}

void SetError(int32_t error) {
    SetLastError(DWORD(error));
}

int32_t MissingPathError() {
    return ERROR_PATH_NOT_FOUND;
}

bool IsExistsError(int32_t error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

String ErrorText(int32_t error) {
    return SystemErrorText(DWORD(error));
}

intptr_t Open(const WideChar* path, OpenMode mode, int64_t* size) {
    DWORD access = mode == kOpenRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = mode == kOpenCreate ? CREATE_ALWAYS : OPEN_EXISTING;
    // Others may read, write, rename and delete the file while it is open here, as they may on
    // the systems where files carry no locks; a folder is no file to the engine.
    HANDLE handle = CreateFileW(SystemText(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                _null, disposition, FILE_ATTRIBUTE_NORMAL, _null);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    // Only ordinary files on disk: devices ("CON", "NUL", pipes) are no files of the engine's.
    // Opening never waits here: a pipe with no free instance fails at once (ERROR_PIPE_BUSY).
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
    const bool folder = known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!known || folder) {
        CloseHandle(handle);
        // The cause a caller reports: a folder, or another kind of file that is no file here.
        SetLastError(folder ? ERROR_DIRECTORY : ERROR_INVALID_FUNCTION);
        return -1;
    }
    *size = int64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    return Engine(handle);
}

intptr_t CreateNew(const WideChar* path) {
    return Engine(CreateFileW(SystemText(path), GENERIC_WRITE, 0, _null, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, _null));
}

bool Close(intptr_t handle) {
    return CloseHandle(Native(handle)) != 0;
}

bool Write(intptr_t handle, const void* data, uint32_t count, uint32_t* done) {
    DWORD step = 0;
    const bool ok = WriteFile(Native(handle), data, count, &step, _null) != 0;
    *done = ok ? step : 0;
    return ok;
}

bool Read(intptr_t handle, void* data, uint32_t count, uint32_t* done) {
    DWORD step = 0;
    const bool ok = ReadFile(Native(handle), data, count, &step, _null) != 0;
    *done = ok ? step : 0;
    return ok;
}

int64_t Seek(intptr_t handle, int64_t offset, SeekFrom from) {
    const DWORD method = from == kFromStart ? FILE_BEGIN : from == kFromEnd ? FILE_END
                                                                            : FILE_CURRENT;
    LARGE_INTEGER to, position;
    to.QuadPart = offset;
    if (!SetFilePointerEx(Native(handle), to, &position, method))
        return -1;
    return int64_t(position.QuadPart);
}

int64_t Size(intptr_t handle) {
    LARGE_INTEGER size;
    return GetFileSizeEx(Native(handle), &size) ? int64_t(size.QuadPart) : 0;
}

bool Resize(intptr_t handle, int64_t size) {
    // SetEndOfFile cuts at the position: move there and back.
    const int64_t position = Seek(handle, 0, kFromCurrent);
    const bool ok = position >= 0 && Seek(handle, size, kFromStart) >= 0 && SetEndOfFile(Native(handle));
    if (position >= 0)
        Seek(handle, position, kFromStart);
    return ok;
}

bool Flush(intptr_t handle) {
    return FlushFileBuffers(Native(handle)) != 0;
}

bool Stat(const WideChar* path, bool* folder) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    *folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool MakeWritable(const WideChar* path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(SystemText(path), FILE_ATTRIBUTE_NORMAL);
    return true;
}

bool MakeFolder(const WideChar* path) {
    return CreateDirectoryW(SystemText(path), _null) != 0;
}

bool Remove(const WideChar* path) {
    return DeleteFileW(SystemText(path)) != 0;
}

bool Replace(const WideChar* from, const WideChar* to) {
    return MoveFileExW(SystemText(from), SystemText(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool Probe(const WideChar* path) {
    // Deleted by the system when the handle closes.
    HANDLE handle = CreateFileW(SystemText(path), GENERIC_WRITE, 0, _null, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, _null);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
}

WideChar Separator() {
    return u'\\';
}

} // namespace NativeFile

PathKind PathKindOf(const WideChar* path) {
    if (path == _null || path[0] == 0)
        return kPathMissing;
    // Opened for its attributes only (folders too): a device ("NUL", "CON") or a pipe answers
    // attributes like a file's, so its type is asked of the open handle; a link is followed.
    HANDLE handle = CreateFileW(SystemText(path), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, _null, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, _null);
    if (handle != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        const bool disk = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
        CloseHandle(handle);
        if (!disk)
            return kPathOther;
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kPathFolder : kPathFile;
    }
    // A pipe whose instances are all taken is there all the same.
    if (GetLastError() == ERROR_PIPE_BUSY)
        return kPathOther;
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kPathMissing;
    // A link that leads nowhere is still something standing at the path, and a reserved device
    // name ("CON" in any folder) that cannot be opened now is a device all the same: the system
    // gives it the device namespace ("\\.\CON") as its full name.
    wchar_t full[16];
    const DWORD fullLength = GetFullPathNameW(SystemText(path), 16, full, _null);
    const bool device = fullLength >= 4 && fullLength < 16 && wcsncmp(full, L"\\\\.\\", 4) == 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || device)
        return kPathOther;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kPathFolder : kPathFile;
}

String SystemPath(const String& path) {
    String result(path);
    result.ReplaceChar(u'/', u'\\');
    return result;
}

void SystemPathInPlace(WideChar* path) {
    for (; path != _null && *path != 0; ++path)
        if (*path == u'/')
            *path = u'\\';
}

String CurrentDirectory() {
    wchar_t text[kPathLimit];
    return FromSystem(text, GetCurrentDirectoryW(kPathLimit, text));
}

String HostExecutablePath() {
    wchar_t text[kPathLimit];
    return FromSystem(text, GetModuleFileNameW(_null, text, kPathLimit));
}

String UserProfileFolder() {
    // The variable Windows sets to the profile folder for every process comes first, so that a
    // process may be given another one as on Linux with $HOME; the shell's answer otherwise.
    wchar_t text[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"USERPROFILE", text, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return FromSystem(text, length);
    if (SHGetFolderPathW(_null, CSIDL_PROFILE, _null, SHGFP_TYPE_CURRENT, text) != S_OK)
        return String();
    return FromSystem(text, DWORD(wcslen(text)));
}
