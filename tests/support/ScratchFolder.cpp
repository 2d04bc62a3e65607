// Temporary folders and plain file helpers for tests.
#include "support/ScratchFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    chmod(path, 0700);
    return remove(path);
}

int MakeWritable(const char* path, const struct stat* info, int type, struct FTW*) {
    if (type == FTW_D || type == FTW_DNR)
        chmod(path, 0700);
    else
        chmod(path, (info->st_mode & 07777) | S_IWUSR);
    return 0;
}

} // namespace

ScratchFolder::ScratchFolder() {
    const char* root = getenv("TMPDIR");
    std::string pattern = std::string(root != nullptr && root[0] != 0 ? root : "/tmp") + "/vexal-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
        mPath = pattern;
}

ScratchFolder::~ScratchFolder() {
    if (mPath.empty())
        return;
    nftw(mPath.c_str(), MakeWritable, 16, FTW_PHYS);
    nftw(mPath.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ScratchFolder::Native(const std::string& name) const {
    return name.empty() ? mPath : mPath + "/" + name;
}

FILE* OpenNativeFile(const std::string& path, bool write) {
    return fopen(path.c_str(), write ? "wb" : "rb");
}

bool MakeNativeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool NativeEntryExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool IsNativeFolder(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeNativePipe(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

bool MakeNativeLink(const std::string& path, const std::string& target) {
    return symlink(target.c_str(), path.c_str()) == 0;
}

namespace {

std::vector<NativeEntry>* gListing = nullptr;
size_t gRootLength = 0;

int ListEntry(const char* path, const struct stat* info, int type, struct FTW*) {
    const std::string name = std::strlen(path) > gRootLength ? std::string(path + gRootLength + 1) : ".";
    const std::string state = std::to_string(info->st_mode) + " " + std::to_string(info->st_size) + " " +
                              std::to_string(info->st_mtim.tv_sec) + "." + std::to_string(info->st_mtim.tv_nsec);
    gListing->push_back({name, state, type == FTW_F});
    return 0;
}

} // namespace

std::vector<NativeEntry> ListNativeTree(const std::string& root) {
    std::vector<NativeEntry> listing;
    gListing = &listing;
    gRootLength = root.size();
    nftw(root.c_str(), ListEntry, 16, FTW_PHYS);
    gListing = nullptr;
    return listing;
}
