// The file module over POSIX: descriptors, stat, mkdir, getcwd and /proc/self/exe.
#include "Source/Platform/File.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/Log.h"

namespace {

const WideChar kModule[] = u"Source/Platform/File";
// The longest path the current-directory and executable queries return, in units.
constexpr int32_t kPathLimit = 1024;
// ReadAll refuses files of this size and more.
constexpr int64_t kReadAllLimit = int64_t(1) << 31;
// The temporary names ReplaceFileContents tries before it gives up.
constexpr int kTemporaryAttempts = 64;

// A path converted to the system's UTF-8 at the boundary; "\" becomes "/" because the callers
// write paths the way the engine always has.
class NativePath {
public:
    explicit NativePath(const WideChar* path)
        : mText(path != _null ? Utf16ToUtf8(_null, 0, path) : _null) {
        if (mText != _null) {
            for (char* p = mText; *p != 0; ++p) {
                if (*p == '\\')
                    *p = '/';
            }
        }
    }
    ~NativePath() { free(mText); }
    NativePath(const NativePath&) = delete;
    NativePath& operator=(const NativePath&) = delete;

    bool IsValid() const { return mText != _null && mText[0] != 0; }
    const char* Get() const { return mText; }

private:
    char* mText;
};

bool IsFolder(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes an existing file writable by its owner; true when it exists.
bool MakeOwnerWritable(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0)
        return false;
    if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0)
        chmod(path, (info.st_mode & 07777) | S_IWUSR);
    return true;
}

// mkdir that accepts a folder made meanwhile (by us earlier or by another process).
bool MakeFolder(const char* path) {
    if (IsFolder(path) || mkdir(path, 0777) == 0)
        return true;
    return errno == EEXIST && IsFolder(path);
}

// The system's words for error (its message in the C locale's language).
void NoteFailure(String* failure, int error) {
    if (failure == _null)
        return;
    char text[256];
    const char* words = error != 0 ? strerror_r(error, text, sizeof(text)) : "unknown error";
    WideChar wide[256];
    Utf8ToUtf16(wide, 256, words);
    *failure = wide;
}

String WideFromNative(const char* text) {
    WideChar* wide = Utf8ToUtf16(_null, 0, text);
    if (wide == _null)
        return String();
    String result;
    if (String::Length(wide) < kPathLimit)
        result = wide;
    free(wide);
    return result;
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
    NativePath native(path);
    if (!native.IsValid())
        return false;
    // Without O_NONBLOCK, opening a pipe waits for a writer for ever. Only regular files are
    // taken: a folder opens fine on Linux, and a device such as /dev/zero never ends.
    int handle;
    do {
        handle = open(native.Get(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0)
        return false;
    struct stat info;
    if (fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(handle);
        // The cause a caller reports: a folder, or another kind of file that is no file here.
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    mHandle = handle;
    mReadEnd = (flags & O_ACCMODE) == O_RDONLY ? int64_t(info.st_size) : -1;
    return true;
}

bool File::OpenForReading(const WideChar* path) {
    return Open(path, O_RDONLY);
}

bool File::OpenForUpdate(const WideChar* path) {
    Close();
    NativePath native(path);
    if (!native.IsValid() || !MakeOwnerWritable(native.Get()))
        return false;
    return Open(path, O_RDWR);
}

bool File::CreateForWriting(const WideChar* path) {
    Close();
    if (path == _null || path[0] == 0)
        return false;
    int32_t cut = -1;
    for (int32_t i = 0; path[i] != 0; ++i) {
        if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':')
            cut = i;
    }
    // A failure here shows as a failure to create the file below; the folder's cause is the one
    // the caller hears when the file failed only for want of its folder.
    int folderError = 0;
    if (cut > 0 && !CreateDirectoryPath(String(path, cut)))
        folderError = errno;
    NativePath native(path);
    if (!native.IsValid())
        return false;
    MakeOwnerWritable(native.Get());
    const bool opened = Open(path, O_RDWR | O_CREAT | O_TRUNC);
    if (!opened && errno == ENOENT && folderError != 0)
        errno = folderError;
    return opened;
}

void File::Close() {
    if (mHandle >= 0) {
        close(mHandle);
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
        ssize_t step = write(mHandle, bytes + done, count - done);
        if (step < 0) {
            if (errno == EINTR)
                continue;
            if (done == 0)
                return false;
            break;
        }
        if (step == 0)
            break;
        done += uint32_t(step);
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
        ssize_t step = ::read(mHandle, bytes + done, count - done);
        if (step < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (step == 0)
            break;
        done += uint32_t(step);
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
    return mHandle >= 0 && position >= 0 && lseek(mHandle, off_t(position), SEEK_SET) >= 0;
}

bool File::SeekToEnd() {
    return mHandle >= 0 && lseek(mHandle, 0, SEEK_END) >= 0;
}

int64_t File::Tell() const {
    if (mHandle < 0)
        return 0;
    off_t position = lseek(mHandle, 0, SEEK_CUR);
    return position < 0 ? 0 : int64_t(position);
}

int64_t File::GetSize() const {
    struct stat info;
    if (mHandle < 0)
        return 0;
    if (mReadEnd >= 0)
        return mReadEnd;
    if (fstat(mHandle, &info) != 0)
        return 0;
    return int64_t(info.st_size);
}

bool File::SetSize(int64_t size) {
    if (mHandle < 0 || size < 0)
        return false;
    // ftruncate leaves the position alone.
    int result;
    do {
        result = ftruncate(mHandle, off_t(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
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
        NoteFailure(failure, errno);
        return false;
    }
    bool ok = file.SetSize(count);
    if (ok && data != _null && count > 0)
        ok = file.Write(data, count);
    if (!ok)
        NoteFailure(failure, errno);
    file.Close();
    return ok;
}

bool FolderTakesFiles(const WideChar* folder, String* failure) {
    NativePath native(folder);
    if (!native.IsValid()) {
        NoteFailure(failure, ENOENT);
        return false;
    }
    static std::atomic<uint32_t> serial{0};
    char name[4096];
    snprintf(name, sizeof(name), "%s/.vexal-write-check-%d-%u", native.Get(), int(getpid()), serial.fetch_add(1));
    const int handle = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (handle < 0) {
        NoteFailure(failure, errno);
        return false;
    }
    close(handle);
    unlink(name);
    return true;
}

bool ReplaceFileContents(const WideChar* path, const void* data, uint32_t count) {
    NativePath native(path);
    if (!native.IsValid() || (data == _null && count > 0))
        return false;
    int32_t separator = String::Length(path) - 1;
    while (separator > 0 && path[separator] != u'/' && path[separator] != u'\\')
        --separator;
    if (separator > 0 && !CreateDirectoryPath(String(path, separator)))
        return false;
    // A name of its own per process and call, so that writers of the same file never share one.
    static std::atomic<uint32_t> serial{0};
    const size_t size = strlen(native.Get()) + 48;
    char* temporary = static_cast<char*>(malloc(size));
    if (temporary == _null)
        return false;
    // A name left by a crashed writer, or put there on purpose (a link to another file), is
    // never written through: the file must be new, and another name is taken instead.
    int handle = -1;
    for (int attempt = 0; attempt < kTemporaryAttempts && handle < 0; ++attempt) {
        snprintf(temporary, size, "%s.%d-%u.tmp", native.Get(), int(getpid()), serial.fetch_add(1));
        handle = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (handle < 0 && errno != EEXIST)
            break;
    }
    if (handle < 0) {
        free(temporary);
        return false;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    bool ok = true;
    while (ok && done < count) {
        ssize_t wrote = write(handle, bytes + done, count - done);
        if (wrote > 0)
            done += uint32_t(wrote);
        else if (wrote < 0 && errno == EINTR)
            continue;
        else
            ok = false;
    }
    // Without the flush a crash soon after the rename could leave the new name on an empty file.
    ok = ok && fsync(handle) == 0;
    ok = close(handle) == 0 && ok;
    ok = ok && rename(temporary, native.Get()) == 0;
    if (!ok)
        unlink(temporary);
    free(temporary);
    return ok;
}

bool CreateDirectoryPath(const WideChar* path) {
    if (path == _null || path[0] == 0)
        return false;
    NativePath native(path);
    if (!native.IsValid())
        return false;
    if (IsFolder(native.Get()))
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
        NativePath folder(prefix);
        if (!folder.IsValid() || !MakeFolder(folder.Get()))
            return false;
    }
    return MakeFolder(native.Get());
}

PathKind PathKindOf(const WideChar* path) {
    NativePath native(path);
    struct stat info;
    if (!native.IsValid())
        return kPathMissing;
    if (stat(native.Get(), &info) != 0) {
        // A link that leads nowhere is still something standing at the path.
        return lstat(native.Get(), &info) == 0 ? kPathOther : kPathMissing;
    }
    if (S_ISREG(info.st_mode))
        return kPathFile;
    return S_ISDIR(info.st_mode) ? kPathFolder : kPathOther;
}

bool FileExists(const WideChar* path) {
    NativePath native(path);
    struct stat info;
    return native.IsValid() && stat(native.Get(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FolderExists(const WideChar* path) {
    NativePath native(path);
    return native.IsValid() && IsFolder(native.Get());
}

bool ClearFileAttributes(const WideChar* path) {
    NativePath native(path);
    return native.IsValid() && MakeOwnerWritable(native.Get());
}

bool DeleteFile(const WideChar* path) {
    NativePath native(path);
    if (!native.IsValid())
        return false;
    MakeOwnerWritable(native.Get());
    return unlink(native.Get()) == 0;
}

String CurrentDirectory() {
    char text[4 * kPathLimit];
    if (getcwd(text, sizeof(text)) == _null)
        return String();
    return WideFromNative(text);
}

String HostExecutablePath() {
    char text[4 * kPathLimit];
    ssize_t length = readlink("/proc/self/exe", text, sizeof(text) - 1);
    if (length <= 0 || size_t(length) >= sizeof(text) - 1)
        return String();
    text[length] = 0;
    return WideFromNative(text);
}

String UserProfileFolder() {
    const char* home = getenv("HOME");
    if (home != _null && home[0] != 0)
        return WideFromNative(home);
    struct passwd entry;
    struct passwd* found = _null;
    char scratch[4096];
    if (getpwuid_r(getuid(), &entry, scratch, sizeof(scratch), &found) != 0 || found == _null ||
        found->pw_dir == _null)
        return String();
    return WideFromNative(found->pw_dir);
}
