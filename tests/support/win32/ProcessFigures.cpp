// The process's figures on Windows: GetProcessHandleCount, a Toolhelp snapshot of the threads, the
// working set, and the committed private memory.
#include "support/ProcessFigures.h"

#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/win32/WidePath.h"

namespace {

// The handles of this process in the system's handle list; Wine answers GetProcessHandleCount
// with 0 and gives its process list the size of the handle table, which never shrinks.
struct HandleEntry {
    ULONG mProcessId;
    BYTE mType;
    BYTE mFlags;
    USHORT mHandle;
    PVOID mObject;
    ACCESS_MASK mAccess;
};
constexpr ULONG kSystemHandleInformation = 16;

int ListedHandleCount() {
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    while (NtQuerySystemInformation(SYSTEM_INFORMATION_CLASS(kSystemHandleInformation), buffer.data(),
                                    ULONG(buffer.size()), &needed) != 0) {
        if (buffer.size() >= (64u << 20))
            return 0;
        buffer.resize(buffer.size() * 2);
    }
    ULONG count = 0;
    std::memcpy(&count, buffer.data(), sizeof(count));
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    const DWORD self = GetCurrentProcessId();
    int handles = 0;
    for (ULONG i = 0; i < count && sizeof(ULONG_PTR) + (i + 1) * sizeof(HandleEntry) <= buffer.size(); ++i)
        handles += entries[i].mProcessId == self ? 1 : 0;
    return handles;
}

// Committed memory of this process that no other shares: its heaps, stacks and private mappings.
long CommittedPrivateKiB() {
    uint64_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return long(total / 1024);
}

} // namespace

ProcessFigures CurrentProcessFigures() {
    ProcessFigures figures;
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles))
        figures.mHandles = int(handles);
    if (figures.mHandles == 0)
        figures.mHandles = ListedHandleCount();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 thread{};
        thread.dwSize = sizeof(thread);
        const DWORD self = GetCurrentProcessId();
        for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread))
            figures.mThreads += thread.th32OwnerProcessID == self ? 1 : 0;
        CloseHandle(snapshot);
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory)))
        figures.mResidentKiB = long(memory.WorkingSetSize / 1024);
    figures.mPrivateKiB = CommittedPrivateKiB();
    return figures;
}

bool HoldsNativeFile(const std::string& path) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

int HandlesKeptByLoadingLibrary(const std::string& path) {
    const int before = CurrentProcessFigures().mHandles;
    if (HMODULE library = LoadLibraryW(WidePath(path).c_str()))
        FreeLibrary(library);
    return CurrentProcessFigures().mHandles - before;
}
