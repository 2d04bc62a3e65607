// Disk faults on Windows. Wine opens and writes files with the calls of the system it runs on, so
// the full disk and the read-only folder are real file systems mounted before the suite runs
// (tests/win32/fault-disks, as root) in the folder VEXAL_FAULT_DISKS names: "full", a small memory
// file system, and "readonly", a read-only view of "writable". The test's files are copied there, and the disk is filled to the room
// the test asks for.
#include "support/DiskFaults.h"

#include <windows.h>

#include <cstdlib>

#include "support/ScratchFolder.h"
#include "support/win32/WidePath.h"

namespace {

// A folder of the mounted disks; empty when they are not there.
std::string Disk(const char* name) {
    const char* disks = std::getenv("VEXAL_FAULT_DISKS");
    const std::string folder = std::string(disks != nullptr ? disks : "") + "\\" + name;
    // Mount points are reparse points to Wine: a folder all the same.
    const DWORD attributes = disks != nullptr ? GetFileAttributesW(WidePath(folder).c_str()) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? folder : "";
}

// The system's words for an error, without the line break they end with.
std::string SystemText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason(text != nullptr ? text : "", length);
    if (text != nullptr)
        LocalFree(text);
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

// Everything inside folder goes; the folder stays.
void EmptyFolder(const std::string& folder) {
    const std::vector<NativeEntry> entries = ListNativeTree(folder);
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->mName == ".")
            continue;
        const std::wstring path = WidePath(folder + "\\" + entry->mName);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str()))
            RemoveDirectoryW(path.c_str());
    }
}

bool CopyFolder(const std::string& from, const std::string& to) {
    bool copied = true;
    for (const NativeEntry& entry : ListNativeTree(from)) {
        if (entry.mName == ".")
            continue;
        const std::wstring target = WidePath(to + "\\" + entry.mName);
        copied = copied && (entry.mFile ? CopyFileW(WidePath(from + "\\" + entry.mName).c_str(), target.c_str(), FALSE) != 0
                                        : CreateDirectoryW(target.c_str(), nullptr) != 0);
    }
    return copied;
}

DiskFault Unmounted(const char* name) {
    DiskFault fault;
    fault.mSkip = std::string("no disk \"") + name + "\" in the folder VEXAL_FAULT_DISKS names: tests/win32/fault-disks "
                                                     "mounts them before the suite, as root";
    return fault;
}

} // namespace

DiskFault FullFolderFault(const std::string& cache, const std::string&, size_t room) {
    const std::string disk = Disk("full");
    if (disk.empty())
        return Unmounted("full");
    DiskFault fault;
    fault.mFolder = disk + "\\cache";
    fault.mAfter = fault.mFolder;
    fault.mReason = SystemText(ERROR_DISK_FULL);
    fault.mWrap = [](const ProgramLine& host) { return host; };
    EmptyFolder(disk);
    if (!MakeNativeFolders(fault.mFolder) || !CopyFolder(cache, fault.mFolder)) {
        fault.mSkip = "the cache folder's files could not be copied to " + fault.mFolder;
        return fault;
    }
    // A file beside the cache folder takes all the disk's space but room.
    ULARGE_INTEGER free{}, total{}, totalFree{};
    if (!GetDiskFreeSpaceExW(WidePath(disk).c_str(), &free, &total, &totalFree) || free.QuadPart < room) {
        fault.mSkip = "the disk at " + disk + " has less than " + std::to_string(room) + " bytes free";
        return fault;
    }
    if (!WriteNativeFile(disk + "\\ballast.bin", std::string(size_t(free.QuadPart - room), '\0'))) {
        fault.mSkip = "the disk at " + disk + " could not be filled";
        return fault;
    }
    fault.mDescription = "a disk of " + std::to_string(total.QuadPart / 1024) + " KiB mounted for the suite, " +
                         std::to_string(room / 1024) + " KiB of it free";
    return fault;
}

DiskFault ReadOnlyFolderFault(const std::string& cache, const std::string&) {
    const std::string view = Disk("readonly");
    const std::string source = Disk("writable");
    if (view.empty() || source.empty())
        return Unmounted("readonly");
    DiskFault fault;
    fault.mFolder = view;
    fault.mAfter = view;
    fault.mReason = SystemText(ERROR_ACCESS_DENIED);
    fault.mDescription = "a read-only view of a folder, mounted for the suite";
    fault.mWrap = [](const ProgramLine& host) { return host; };
    EmptyFolder(source);
    if (!CopyFolder(cache, source))
        fault.mSkip = "the cache folder's files could not be copied to " + source;
    return fault;
}
