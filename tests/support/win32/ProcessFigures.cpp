// The process's figures on Windows: GetProcessHandleCount, a Toolhelp snapshot of the threads, the
// working set, and the committed private memory.
#include "support/ProcessFigures.h"

#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>
#include <vector>

namespace {

// The handle count of the system's process list; Wine answers GetProcessHandleCount with 0 but
// keeps this one.
int ListedHandleCount() {
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    while (NtQuerySystemInformation(SystemProcessInformation, buffer.data(), ULONG(buffer.size()), &needed) != 0) {
        if (buffer.size() >= (64u << 20))
            return 0;
        buffer.resize(buffer.size() * 2);
    }
    const DWORD self = GetCurrentProcessId();
    for (size_t at = 0;;) {
        const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + at);
        if (DWORD(reinterpret_cast<ULONG_PTR>(process->UniqueProcessId)) == self)
            return int(process->HandleCount);
        if (process->NextEntryOffset == 0)
            return 0;
        at += process->NextEntryOffset;
    }
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
    const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}
