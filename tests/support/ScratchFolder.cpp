// Temporary folders and plain file helpers for tests.
#include "support/ScratchFolder.h"

#include <cstdio>
#include <cstdlib>
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
