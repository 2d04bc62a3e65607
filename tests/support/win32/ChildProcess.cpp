// Programs run from a test on Windows: the command line goes to the system's command processor,
// its output into a temporary file. The run ends when the command processor ends: a pipe would
// end only once every holder of its writing end let go, and under Wine a finished command's pipe
// has been seen to stay open for good.
#include "support/ChildProcess.h"

#include <windows.h>

#include <string>

#include "support/win32/WidePath.h"

CommandRun RunCommand(const std::string& commandLine, ErrorOutput errors) {
    CommandRun run;
    wchar_t folder[MAX_PATH + 1], path[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"run", 0, path) == 0)
        return run;
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    HANDLE output = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    if (output != INVALID_HANDLE_VALUE && input != INVALID_HANDLE_VALUE) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = errors == ErrorOutput::Collected ? output : GetStdHandle(STD_ERROR_HANDLE);
        // /s: the command processor takes away the outer pair of quotes and nothing else.
        std::wstring line = L"cmd.exe /s /c \"" + WidePath(commandLine) + L"\"";
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            WaitForSingleObject(process.hProcess, INFINITE);
            DWORD status = 0;
            if (GetExitCodeProcess(process.hProcess, &status)) run.mStatus = int(status);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) run.mOutput.append(chunk, got);
        CloseHandle(file);
    }
    DeleteFileW(path);
    return run;
}

// Each word in quotes, as the C runtime splits a command line: a quote inside is escaped, and so
// are the backslashes just before a quote. The command processor leaves quoted text alone.
std::string CommandLineOf(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty())
            line += ' ';
        line += '"';
        size_t backslashes = 0;
        for (char c : word) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}
