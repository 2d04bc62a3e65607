// Log files over POSIX descriptors.
#include "Source/Platform/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdint>
#include "Source/Common/StringEncoding.h"

namespace {

const int32_t kPathBytes = 4096;

// Creates each folder above the file, from the root down; failures show when the file is opened.
void CreateFoldersAbove(char* path) {
    for (char* p = path + 1; *p != 0; ++p) {
        if (*p != '/') continue;
        *p = 0;
        mkdir(path, 0777);
        *p = '/';
    }
}

}  // namespace

void* CreateLogFile(const WideChar* path) {
    if (path == _null || path[0] == 0) return _null;
    char narrow[kPathBytes];
    bool truncated = false;
    Utf16ToUtf8(narrow, kPathBytes, path, -1, _null, &truncated);
    if (truncated) return _null;
    for (char* p = narrow; *p != 0; ++p)
        if (*p == '\\') *p = '/';
    CreateFoldersAbove(narrow);
    struct stat existing;
    if (stat(narrow, &existing) == 0 && S_ISREG(existing.st_mode) && !(existing.st_mode & S_IWUSR))
        chmod(narrow, existing.st_mode | S_IWUSR);
    int descriptor = open(narrow, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) return _null;
    return reinterpret_cast<void*>(intptr_t(descriptor) + 1);
}

void WriteLogFile(void* file, const void* bytes, uint32_t count) {
    if (file == _null) return;
    int descriptor = int(reinterpret_cast<intptr_t>(file) - 1);
    const char* rest = static_cast<const char*>(bytes);
    while (count > 0) {
        ssize_t written = write(descriptor, rest, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        rest += written;
        count -= uint32_t(written);
    }
}

void CloseLogFile(void* file) {
    if (file != _null) close(int(reinterpret_cast<intptr_t>(file) - 1));
}

String LogCurrentDirectory() {
    char narrow[kPathBytes];
    if (getcwd(narrow, sizeof(narrow)) == _null) return String();
    WideChar wide[1024];
    Utf8ToUtf16(wide, 1024, narrow);
    return String(wide);
}

String LogHostExecutablePath() {
    char narrow[kPathBytes];
    ssize_t length = readlink("/proc/self/exe", narrow, sizeof(narrow) - 1);
    if (length <= 0) return String();
    narrow[length] = 0;
    WideChar wide[1024];
    Utf8ToUtf16(wide, 1024, narrow);
    return String(wide);
}
