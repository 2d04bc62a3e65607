// The file module's system calls over POSIX: descriptors, stat, mkdir, rename, getcwd and
// /proc/self/exe.
#include "Source/Platform/File.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Source/Common/StringEncoding.h"
#include "Source/Platform/FileNative.h"

namespace {

// The longest path the current-directory and executable queries return, in units.
constexpr int32_t kPathLimit = 1024;

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

// Opens with the descriptor closed on exec and, without O_NONBLOCK, opening a pipe would wait for
// a writer for ever; EINTR is retried.
int OpenNative(const NativePath& path, int flags, mode_t permissions) {
    if (!path.IsValid()) {
        errno = ENOENT;
        return -1;
    }
    int handle;
    do {
        handle = open(path.Get(), flags | O_CLOEXEC, permissions);
    } while (handle < 0 && errno == EINTR);
    return handle;
}

} // namespace

namespace NativeFile {

int32_t Error() {
    return errno;
}

void SetError(int32_t error) {
    errno = error;
}

int32_t MissingPathError() {
    return ENOENT;
}

bool IsExistsError(int32_t error) {
    return error == EEXIST;
}

String ErrorText(int32_t error) {
    // The system's words in the C locale's language.
    char text[256];
    const char* words = error != 0 ? strerror_r(error, text, sizeof(text)) : "unknown error";
    WideChar wide[256];
    Utf8ToUtf16(wide, 256, words);
    return String(wide);
}

intptr_t Open(const WideChar* path, OpenMode mode, int64_t* size) {
    const int flags = mode == kOpenRead ? O_RDONLY : mode == kOpenUpdate ? O_RDWR
                                                                         : O_RDWR | O_CREAT | O_TRUNC;
    const int handle = OpenNative(NativePath(path), flags | O_NONBLOCK | O_NOCTTY, 0666);
    if (handle < 0)
        return -1;
    // Only regular files are taken: a folder opens fine on Linux, and a device such as /dev/zero
    // never ends.
    struct stat info;
    const bool known = fstat(handle, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        // The cause a caller reports: a folder, or another kind of file that is no file here.
        const int cause = !known ? errno : S_ISDIR(info.st_mode) ? EISDIR
                                                                 : EINVAL;
        close(handle);
        errno = cause;
        return -1;
    }
    *size = int64_t(info.st_size);
    return handle;
}

intptr_t CreateNew(const WideChar* path) {
    return OpenNative(NativePath(path), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
}

bool Close(intptr_t handle) {
    return close(int(handle)) == 0;
}

bool Write(intptr_t handle, const void* data, uint32_t count, uint32_t* done) {
    ssize_t step;
    do {
        step = write(int(handle), data, count);
    } while (step < 0 && errno == EINTR);
    *done = step > 0 ? uint32_t(step) : 0;
    return step >= 0;
}

bool Read(intptr_t handle, void* data, uint32_t count, uint32_t* done) {
    ssize_t step;
    do {
        step = read(int(handle), data, count);
    } while (step < 0 && errno == EINTR);
    *done = step > 0 ? uint32_t(step) : 0;
    return step >= 0;
}

int64_t Seek(intptr_t handle, int64_t offset, SeekFrom from) {
    const int whence = from == kFromStart ? SEEK_SET : from == kFromEnd ? SEEK_END
                                                                        : SEEK_CUR;
    const off_t position = lseek(int(handle), off_t(offset), whence);
    return position < 0 ? -1 : int64_t(position);
}

int64_t Size(intptr_t handle) {
    struct stat info;
    return fstat(int(handle), &info) == 0 ? int64_t(info.st_size) : 0;
}

bool Resize(intptr_t handle, int64_t size) {
    // ftruncate leaves the position alone.
    int result;
    do {
        result = ftruncate(int(handle), off_t(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool Flush(intptr_t handle) {
    return fsync(int(handle)) == 0;
}

bool Stat(const WideChar* path, bool* folder) {
    NativePath native(path);
    struct stat info;
    if (!native.IsValid() || stat(native.Get(), &info) != 0)
        return false;
    *folder = S_ISDIR(info.st_mode);
    return true;
}

bool MakeWritable(const WideChar* path) {
    NativePath native(path);
    struct stat info;
    if (!native.IsValid() || stat(native.Get(), &info) != 0)
        return false;
    if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0)
        chmod(native.Get(), (info.st_mode & 07777) | S_IWUSR);
    return true;
}

bool MakeFolder(const WideChar* path) {
    NativePath native(path);
    return native.IsValid() && mkdir(native.Get(), 0777) == 0;
}

bool Remove(const WideChar* path) {
    NativePath native(path);
    return native.IsValid() && unlink(native.Get()) == 0;
}

bool Replace(const WideChar* from, const WideChar* to) {
    NativePath source(from);
    NativePath target(to);
    return source.IsValid() && target.IsValid() && rename(source.Get(), target.Get()) == 0;
}

bool Probe(const WideChar* path) {
    NativePath native(path);
    const int handle = OpenNative(native, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (handle < 0)
        return false;
    close(handle);
    unlink(native.Get());
    return true;
}

WideChar Separator() {
    return u'/';
}

} // namespace NativeFile

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

String SystemPath(const String& path) {
    return path;
}

void SystemPathInPlace(WideChar*) {}

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
