// Debugger output as standard error, the tracer test from /proc, environment variables.
#include "Source/Platform/DebugOutput.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include "Source/Common/StringEncoding.h"

namespace {

void WriteAll(int descriptor, const char* bytes, size_t count) {
    while (count > 0) {
        ssize_t written = write(descriptor, bytes, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        bytes += written;
        count -= size_t(written);
    }
}

} // namespace

void WriteDebugOutput(const WideChar* text) {
    if (text == _null) return;
    // In pieces, so that no message needs memory of its own.
    const int32_t kPieceUnits = 1024;
    char bytes[kPieceUnits * 3 + 1];
    int32_t length = 0;
    while (text[length] != 0) ++length;
    for (int32_t start = 0; start < length; start += kPieceUnits) {
        int32_t count = length - start < kPieceUnits ? length - start : kPieceUnits;
        int32_t written = 0;
        Utf16ToUtf8(bytes, int32_t(sizeof(bytes)), text + start, count, &written);
        WriteAll(STDERR_FILENO, bytes, size_t(written));
    }
}

bool IsDebuggerAttached() {
    int descriptor = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    char status[8192];
    size_t filled = 0;
    for (;;) {
        ssize_t got = read(descriptor, status + filled, sizeof(status) - 1 - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        filled += size_t(got);
        if (filled == sizeof(status) - 1) break;
    }
    close(descriptor);
    status[filled] = 0;
    const char* field = std::strstr(status, "\nTracerPid:");
    if (field == _null) return false;
    return std::strtol(field + std::strlen("\nTracerPid:"), _null, 10) != 0;
}

bool ReadEnvironmentVariable(const WideChar* name, WideChar* buffer, int32_t size) {
    if (buffer != _null && size > 0) buffer[0] = 0;
    if (name == _null) return false;
    char narrowName[1024];
    Utf16ToUtf8(narrowName, int32_t(sizeof(narrowName)), name);
    const char* value = std::getenv(narrowName);
    if (value == _null) return false;
    if (buffer != _null && size > 0) Utf8ToUtf16(buffer, size, value);
    return true;
}
