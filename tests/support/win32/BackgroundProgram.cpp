// Background programs on Windows: CreateProcessW with an environment block of the test's own
// variables and the given ones, the output file as standard output and error, TerminateProcess
// at the time limit.
#include "support/BackgroundProgram.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "support/win32/WidePath.h"

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back: quoted, with the
// backslashes before a quote doubled.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty())
        line += L' ';
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// The name of "NAME=value" with its '=' (names that start with '=' are the drives' folders).
std::wstring NameOf(const std::wstring& entry) {
    const size_t equals = entry.find(L'=', 1);
    return equals == std::wstring::npos ? entry : entry.substr(0, equals + 1);
}

std::wstring EnvironmentBlock(const std::vector<std::string>& given) {
    std::vector<std::wstring> added;
    for (const std::string& entry : given) added.push_back(WidePath(entry));
    std::wstring block;
    if (wchar_t* own = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = own; *entry != 0; entry += wcslen(entry) + 1) {
            const std::wstring name = NameOf(entry);
            bool replaced = false;
            for (const std::wstring& other : added)
                replaced = replaced || _wcsicmp(NameOf(other).c_str(), name.c_str()) == 0;
            if (!replaced)
                block.append(entry).push_back(L'\0');
        }
        FreeEnvironmentStringsW(own);
    }
    for (const std::wstring& entry : added) block.append(entry).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

} // namespace

BackgroundProgram::~BackgroundProgram() { Kill(); }

BackgroundProgram::BackgroundProgram(BackgroundProgram&& other) noexcept : mProcess(other.mProcess) {
    other.mProcess = -1;
}

bool BackgroundProgram::Start(const ProgramLine& line, const std::string& outputPath) {
    if (line.mArguments.empty() || mProcess != -1)
        return false;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = CreateFileW(WidePath(outputPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE || input == INVALID_HANDLE_VALUE) {
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
        if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
        return false;
    }
    std::wstring command;
    for (const std::string& argument : line.mArguments) AppendArgument(command, WidePath(argument));
    std::wstring environment = EnvironmentBlock(line.mEnvironment);
    // The program inherits its two handles and nothing else: no socket of the test's servers
    // (a connection the server closes would stay open), and not the test's own output, which a
    // process the program starts (Wine's desktop, started once per server) could keep open after
    // the test has ended.
    HANDLE inheritedHandles[] = {output, input};
    // Where the list is not honoured, the test's own standard handles are at least not passed on.
    for (DWORD standard : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE own = GetStdHandle(standard);
        if (own != nullptr && own != INVALID_HANDLE_VALUE)
            SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
    }
    SIZE_T attributesSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributesSize);
    std::vector<char> attributes(attributesSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    const bool listed = InitializeProcThreadAttributeList(list, 1, 0, &attributesSize) &&
                        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inheritedHandles,
                                                  sizeof(inheritedHandles), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = output;
    startup.lpAttributeList = listed ? list : nullptr;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(WidePath(line.mArguments[0]).c_str(), command.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT,
                                        environment.data(), nullptr, &startup.StartupInfo, &process);
    if (listed)
        DeleteProcThreadAttributeList(list);
    CloseHandle(output);
    CloseHandle(input);
    if (!started)
        return false;
    CloseHandle(process.hThread);
    mProcess = reinterpret_cast<intptr_t>(process.hProcess);
    return true;
}

int BackgroundProgram::Wait(int timeoutSeconds, bool& timedOut) {
    timedOut = false;
    if (mProcess == -1)
        return -1;
    HANDLE process = reinterpret_cast<HANDLE>(mProcess);
    if (WaitForSingleObject(process, DWORD(timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
        timedOut = true;
        Kill();
        return -1;
    }
    DWORD status = 0;
    const bool known = GetExitCodeProcess(process, &status) != 0;
    CloseHandle(process);
    mProcess = -1;
    return known ? int(status) : -1;
}

void BackgroundProgram::Kill() {
    if (mProcess == -1)
        return;
    HANDLE process = reinterpret_cast<HANDLE>(mProcess);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    mProcess = -1;
}
