// Plain whole-file reads and writes for tests, the same on every system; the platform's
// ScratchFolder.cpp opens the files.
#include <cstdio>

#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

String ScratchFolder::Wide(const std::string& name) const {
    return WideText(Native(name));
}

std::string ReadWholeStream(FILE* stream) {
    std::string bytes;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), stream)) > 0)
        bytes.append(chunk, got);
    return bytes;
}

std::string ReadNativeFile(const std::string& path) {
    FILE* file = OpenNativeFile(path, false);
    if (file == nullptr)
        return std::string();
    std::string bytes = ReadWholeStream(file);
    fclose(file);
    return bytes;
}

bool WriteNativeFile(const std::string& path, const std::string& bytes) {
    FILE* file = OpenNativeFile(path, true);
    if (file == nullptr)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}
