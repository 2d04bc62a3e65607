// The process's figures on Linux, from /proc/self.
#include "support/ProcessFigures.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int CountEntries(const char* folder) {
    int count = 0;
    if (DIR* directory = opendir(folder)) {
        while (dirent* entry = readdir(directory))
            count += entry->d_name[0] != '.' ? 1 : 0;
        closedir(directory);
    }
    return count;
}

long StatusKiB(const char* field) {
    long value = 0;
    if (FILE* file = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const size_t length = std::strlen(field);
        while (std::fgets(line, sizeof(line), file) != nullptr)
            if (std::strncmp(line, field, length) == 0 && line[length] == ':')
                value = std::atol(line + length + 1);
        std::fclose(file);
    }
    return value;
}

} // namespace

ProcessFigures CurrentProcessFigures() {
    ProcessFigures figures;
    figures.mHandles = CountEntries("/proc/self/fd");
    figures.mThreads = CountEntries("/proc/self/task");
    long pages = 0, resident = 0;
    if (FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(file);
    }
    figures.mResidentKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
    figures.mPrivateKiB = StatusKiB("RssAnon");
    return figures;
}

bool HoldsNativeFile(const std::string& path) {
    // The scratch folder may be reached through a link ($TMPDIR): the file's own name decides.
    const std::string name = path.substr(path.rfind('/') + 1);
    bool found = false;
    if (DIR* directory = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(directory)) {
            char target[4096];
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
            const std::string held(target, size_t(length > 0 ? length : 0));
            if (held.size() > name.size() && held.compare(held.size() - name.size() - 1, std::string::npos, "/" + name) == 0)
                found = true;
        }
        closedir(directory);
    }
    return found;
}

int HandlesKeptByLoadingLibrary(const std::string& path) {
    const int before = CurrentProcessFigures().mHandles;
    if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
        dlclose(library);
    return CurrentProcessFigures().mHandles - before;
}
