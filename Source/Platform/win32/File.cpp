// The file module over Windows: CreateFileW handles shared for reading, writing and deletion,
// attributes, folders, the current directory, the module path and the profile folder.
#include "Source/Platform/File.h"

#include <windows.h>
#include <shlobj.h>
// Ours takes an engine path; the system's A/W macro of that name must not rename it.
#undef DeleteFile

#include <atomic>
#include <cstdio>

#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/win32/SystemError.h"
#include "Source/Platform/win32/WideText.h"

namespace {

const WideChar kModule[] = u"Source/Platform/File";
// The longest path the current-directory and executable queries return, in units.
constexpr int32_t kPathLimit = 1024;
// ReadAll refuses files of this size and more.
constexpr int64_t kReadAllLimit = int64_t(1) << 31;
// The temporary names ReplaceFileContents tries before it gives up.
constexpr int kTemporaryAttempts = 64;

// How File::Open opens.
enum OpenMode : int {
    kOpenRead = 0,
    kOpenUpdate = 1,
    kOpenCreate = 2,
};

HANDLE Native(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool IsValidPath(const WideChar* path) {
    return path != _null && path[0] != 0;
}

DWORD Attributes(const WideChar* path) {
    return IsValidPath(path) ? GetFileAttributesW(SystemText(path)) : INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const WideChar* path) {
    DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Makes an existing file a normal file (not read-only); true when it exists.
bool MakeNormal(const WideChar* path) {
    DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(SystemText(path), FILE_ATTRIBUTE_NORMAL);
    return true;
}

// CreateDirectoryW that accepts a folder made meanwhile (by us earlier or by another process).
bool MakeFolder(const WideChar* path) {
    if (IsFolder(path) || CreateDirectoryW(SystemText(path), _null))
        return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(path);
}

String FromSystem(const wchar_t* text, DWORD length) {
    if (length == 0 || length >= DWORD(kPathLimit))
        return String();
    return String(EngineText(text), int32_t(length));
}

} // namespace

File::File() : mHandle(-1), mTextEncoding(kFileTextAnsi), mReadEnd(-1) {}

File::~File() {
    Close();
}

File::File(File&& other) noexcept
    : mHandle(other.mHandle), mTextEncoding(other.mTextEncoding), mReadEnd(other.mReadEnd) {
    other.mHandle = -1;
    other.mReadEnd = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        mHandle = other.mHandle;
        mTextEncoding = other.mTextEncoding;
        mReadEnd = other.mReadEnd;
        other.mHandle = -1;
        other.mReadEnd = -1;
    }
    return *this;
}

bool File::Open(const WideChar* path, int flags) {
    Close();
    if (!IsValidPath(path))
        return false;
    DWORD access = flags == kOpenRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = flags == kOpenCreate ? CREATE_ALWAYS : OPEN_EXISTING;
    // Others may read, write, rename and delete the file while it is open here, as they may on
    // the systems where files carry no locks; a folder is no file to the engine.
    HANDLE handle = CreateFileW(SystemText(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                _null, disposition, FILE_ATTRIBUTE_NORMAL, _null);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // Only ordinary files on disk: devices ("CON", "NUL", pipes) are no files of the engine's.
    // Opening never waits here: a pipe with no free instance fails at once (ERROR_PIPE_BUSY).
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
    const bool folder = known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!known || folder) {
        CloseHandle(handle);
        // The cause a caller reports: a folder, or another kind of file that is no file here.
        SetLastError(folder ? ERROR_DIRECTORY : ERROR_INVALID_FUNCTION);
        return false;
    }
    mHandle = reinterpret_cast<intptr_t>(handle);
    // Reads stop at the size the file has now, however another writer grows it meanwhile.
    mReadEnd = flags == kOpenRead ? int64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow : -1;
    return true;
}

bool File::OpenForReading(const WideChar* path) {
    return Open(path, kOpenRead);
}

bool File::OpenForUpdate(const WideChar* path) {
    Close();
    if (!MakeNormal(path))
        return false;
    return Open(path, kOpenUpdate);
}

bool File::CreateForWriting(const WideChar* path) {
    Close();
    if (!IsValidPath(path))
        return false;
    int32_t cut = -1;
    for (int32_t i = 0; path[i] != 0; ++i) {
        if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':')
            cut = i;
    }
    // A failure here shows as a failure to create the file below; the folder's cause is the one
    // the caller hears when the file failed only for want of its folder.
    DWORD folderError = 0;
    if (cut > 0 && !CreateDirectoryPath(String(path, cut)))
        folderError = GetLastError();
    MakeNormal(path);
    const bool opened = Open(path, kOpenCreate);
    if (!opened && GetLastError() == ERROR_PATH_NOT_FOUND && folderError != 0)
        SetLastError(folderError);
    return opened;
}

void File::Close() {
    if (mHandle >= 0) {
        CloseHandle(Native(mHandle));
        mHandle = -1;
    }
    mReadEnd = -1;
}

bool File::Write(const void* data, uint32_t count, uint32_t* written) {
    if (written != _null)
        *written = 0;
    if (mHandle < 0)
        return false;
    if (count == 0)
        return true;
    if (!VEXAL_CHECK(data != _null, u"buffer != _null", kModule))
        return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < count) {
        DWORD step = 0;
        if (!WriteFile(Native(mHandle), bytes + done, count - done, &step, _null)) {
            if (done == 0)
                return false;
            break;
        }
        if (step == 0)
            break;
        done += step;
    }
    if (written != _null) {
        *written = done;
        return true;
    }
    return done == count;
}

bool File::WriteText(const WideChar* text) {
    if (mHandle < 0)
        return false;
    if (text == _null || text[0] == 0)
        return true;
    if (mTextEncoding == kFileTextUtf16) {
        int32_t length = String::Length(text);
        return Write(text, uint32_t(length) * sizeof(WideChar));
    }
    int32_t length = 0;
    char* converted = mTextEncoding == kFileTextUtf8 ? Utf16ToUtf8(_null, 0, text, -1, &length)
                                                     : WideToAnsi(_null, 0, text, -1, &length);
    if (converted == _null)
        return false;
    bool ok = length <= 0 || Write(converted, uint32_t(length));
    free(converted);
    return ok;
}

bool File::Read(void* data, uint32_t count, uint32_t* read) {
    if (read != _null)
        *read = 0;
    if (mHandle < 0)
        return false;
    if (count == 0)
        return true;
    if (!VEXAL_CHECK(data != _null, u"buffer != _null", kModule))
        return false;
    if (mReadEnd >= 0) {
        const int64_t left = mReadEnd - Tell();
        if (left < int64_t(count))
            count = left > 0 ? uint32_t(left) : 0;
    }
    uint8_t* bytes = static_cast<uint8_t*>(data);
    uint32_t done = 0;
    while (done < count) {
        DWORD step = 0;
        if (!ReadFile(Native(mHandle), bytes + done, count - done, &step, _null))
            return false;
        if (step == 0)
            break;
        done += step;
    }
    if (read != _null)
        *read = done;
    return true;
}

bool File::ReadAll(Buffer& buffer) {
    if (mHandle < 0)
        return false;
    int64_t size = GetSize();
    if (size < 0 || size >= kReadAllLimit)
        return false;
    if (!buffer.Resize(uint32_t(size)))
        return false;
    if (size == 0)
        return true;
    if (!VEXAL_CHECK(buffer.GetData() != _null, u"buffer != _null", kModule))
        return false;
    uint32_t got = 0;
    return Read(buffer.GetData(), uint32_t(size), &got) && got >= uint32_t(size);
}

bool File::Seek(int64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    return mHandle >= 0 && position >= 0 && SetFilePointerEx(Native(mHandle), to, _null, FILE_BEGIN);
}

bool File::SeekToEnd() {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return mHandle >= 0 && SetFilePointerEx(Native(mHandle), zero, _null, FILE_END);
}

int64_t File::Tell() const {
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    if (mHandle < 0 || !SetFilePointerEx(Native(mHandle), zero, &position, FILE_CURRENT))
        return 0;
    return int64_t(position.QuadPart);
}

int64_t File::GetSize() const {
    LARGE_INTEGER size;
    if (mHandle < 0)
        return 0;
    if (mReadEnd >= 0)
        return mReadEnd;
    if (!GetFileSizeEx(Native(mHandle), &size))
        return 0;
    return int64_t(size.QuadPart);
}

bool File::SetSize(int64_t size) {
    if (mHandle < 0 || size < 0)
        return false;
    // SetEndOfFile cuts at the position: move there and back.
    int64_t position = Tell();
    bool ok = Seek(size) && SetEndOfFile(Native(mHandle));
    Seek(position);
    return ok;
}

int64_t FileSize(const WideChar* path) {
    File file;
    if (!file.OpenForReading(path))
        return 0;
    int64_t size = file.GetSize();
    file.Close();
    return size;
}

bool ReadFileToBuffer(Buffer& buffer, const WideChar* path) {
    File file;
    if (!file.OpenForReading(path))
        return false;
    bool ok = file.ReadAll(buffer);
    file.Close();
    if (ok)
        buffer.SetName(path);
    return ok;
}

bool WriteBufferToFile(const void* data, const WideChar* path, uint32_t count, String* failure) {
    File file;
    if (!file.OpenForUpdate(path) && !file.CreateForWriting(path)) {
        if (failure != _null) *failure = SystemErrorText(GetLastError());
        return false;
    }
    bool ok = file.SetSize(count);
    if (ok && data != _null && count > 0)
        ok = file.Write(data, count);
    if (!ok && failure != _null) *failure = SystemErrorText(GetLastError());
    file.Close();
    return ok;
}

bool FolderTakesFiles(const WideChar* folder, String* failure) {
    static std::atomic<uint32_t> serial{0};
    String name = Format(u"%ls\\.vexal-write-check-%u-%u", folder != _null ? folder : u"", uint32_t(GetCurrentProcessId()),
                         serial.fetch_add(1));
    // Deleted by the system when the handle closes.
    HANDLE handle = IsValidPath(folder) ? CreateFileW(SystemText(name), GENERIC_WRITE, 0, _null, CREATE_NEW,
                                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, _null)
                                        : INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE) {
        if (failure != _null) *failure = SystemErrorText(IsValidPath(folder) ? GetLastError() : ERROR_PATH_NOT_FOUND);
        return false;
    }
    CloseHandle(handle);
    return true;
}

bool ReplaceFileContents(const WideChar* path, const void* data, uint32_t count) {
    if (!IsValidPath(path) || (data == _null && count > 0))
        return false;
    int32_t separator = String::Length(path) - 1;
    while (separator > 0 && path[separator] != u'/' && path[separator] != u'\\')
        --separator;
    if (separator > 0 && !CreateDirectoryPath(String(path, separator)))
        return false;
    // A name of its own per process and call, so that writers of the same file never share one.
    // A name left by a crashed writer, or put there on purpose (a link to another file), is
    // never written through: the file must be new, and another name is taken instead.
    static std::atomic<uint32_t> serial{0};
    String temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kTemporaryAttempts && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = Format(u"%ls.%u-%u.tmp", path, uint32_t(GetCurrentProcessId()), serial.fetch_add(1));
        handle = CreateFileW(SystemText(temporary), GENERIC_WRITE, 0, _null, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, _null);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    bool ok = true;
    while (ok && done < count) {
        DWORD wrote = 0;
        if (WriteFile(handle, bytes + done, count - done, &wrote, _null) && wrote > 0)
            done += wrote;
        else
            ok = false;
    }
    // Without the flush a crash soon after the move could leave the new name on an empty file.
    ok = ok && FlushFileBuffers(handle);
    ok = CloseHandle(handle) && ok;
    ok = ok && MoveFileExW(SystemText(temporary), SystemText(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
        DeleteFileW(SystemText(temporary));
    return ok;
}

bool CreateDirectoryPath(const WideChar* path) {
    if (!IsValidPath(path))
        return false;
    if (IsFolder(path))
        return true;
    int32_t length = String::Length(path);
    if (path[length - 1] == u':')
        return true;
    for (int32_t i = 1; i < length; ++i) {
        if (path[i] != u'\\' && path[i] != u'/')
            continue;
        if (path[i - 1] == u':')
            continue;
        String prefix(path, i);
        if (!MakeFolder(prefix))
            return false;
    }
    return MakeFolder(path);
}

PathKind PathKindOf(const WideChar* path) {
    if (!IsValidPath(path))
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

bool FileExists(const WideChar* path) {
    DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const WideChar* path) {
    return IsFolder(path);
}

bool ClearFileAttributes(const WideChar* path) {
    return IsValidPath(path) && MakeNormal(path);
}

bool DeleteFile(const WideChar* path) {
    if (!IsValidPath(path))
        return false;
    MakeNormal(path);
    return DeleteFileW(SystemText(path)) != 0;
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
