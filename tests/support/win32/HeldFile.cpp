// Files held by another process on Windows: the file is opened here sharing reading only, and the
// handle is given to a process that never runs (this program, started suspended); this process
// closes its own. The file stays held until that process ends.
#include "support/HeldFile.h"

#include <windows.h>

#include "support/win32/WidePath.h"

HeldFile::~HeldFile() { Release(); }

bool HeldFile::Hold(const std::string& path) {
    Release();
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    wchar_t program[MAX_PATH];
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
    const bool started = programLength > 0 && programLength < MAX_PATH &&
                         CreateProcessW(program, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &process);
    HANDLE given = nullptr;
    // The handle here is closed by the duplication, whether it succeeds or not.
    const bool handed = started && DuplicateHandle(GetCurrentProcess(), file, process.hProcess, &given, 0, FALSE,
                                                   DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE);
    if (!started)
        CloseHandle(file);
    if (started) {
        CloseHandle(process.hThread);
        mProcess = reinterpret_cast<intptr_t>(process.hProcess);
    }
    if (!handed) {
        Release();
        return false;
    }
    return true;
}

void HeldFile::Release() {
    if (mProcess == -1)
        return;
    HANDLE process = reinterpret_cast<HANDLE>(mProcess);
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    mProcess = -1;
}

bool HeldFile::CanBeReplaced() { return false; }
