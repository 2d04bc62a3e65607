// The private nginx for the runs under Wine. nginx is a Linux program: Wine starts a program
// that is no Windows one as a Linux process, detached and without a handle to wait on. So a
// shell on the Linux side starts nginx and holds a connection to this process: when the test
// closes it (Stop), or ends in any way, the shell stops nginx. Folders are handed to nginx by
// their Linux names, which Wine's kernel32 tells.
#include "support/NginxServer.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "support/NginxConfiguration.h"
#include "support/ScratchFolder.h"
#include "support/TestSockets.h"
#include "support/win32/WidePath.h"

namespace {

// A socket bound to a port of 127.0.0.1 the system picks, listening with a backlog of 0 or more,
// else closed again at once. The port, 0 on failure; the socket in socket when listening.
int LoopbackPort(int backlog, int& socket) {
    socket = OpenTestSocket();
    const int port = BindLoopback(socket, backlog);
    if ((port == 0 || backlog < 0) && socket >= 0) {
        CloseTestSocket(socket);
        socket = -1;
    }
    return port;
}

// The Linux name of a Windows path; empty outside Wine.
std::string LinuxPath(const std::string& path) {
    using Convert = char*(CDECL*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) return std::string();
    char* name = convert(WidePath(path).c_str());
    if (name == nullptr) return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// A text in single quotes for the shell.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

std::string NginxProgram() {
    const char* chosen = getenv("VEXAL_NGINX");
    return chosen != nullptr && *chosen != 0 ? chosen : "nginx";
}

NginxServer::~NginxServer() { Stop(); }

std::string NginxServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}

bool NginxServer::Start(const std::string& root, const std::string& workFolder, std::string& error) {
    Stop();
    mWork = workFolder;
    for (const char* sub : {"", "/logs", "/temp"}) CreateDirectoryW(WidePath(mWork + sub).c_str(), nullptr);
    const std::string linuxRoot = LinuxPath(root), linuxWork = LinuxPath(mWork);
    if (linuxRoot.empty() || linuxWork.empty()) {
        error = "nginx runs on the Linux side: only under Wine";
        return false;
    }

    for (int attempt = 0; attempt < 5; ++attempt) {
        int listener = -1;
        mPort = LoopbackPort(-1, listener);
        const int lifelinePort = mPort != 0 ? LoopbackPort(1, listener) : 0;
        if (lifelinePort == 0) {
            error = "no free port";
            return false;
        }
        {
            std::ofstream file(mWork + "/nginx.conf", std::ios::binary);
            // Whether nginx runs as root is known on the Linux side only: the shell says it.
            file << NginxConfiguration(linuxRoot, linuxWork, mPort, mRateLimit, false);
        }
        {
            // The shell's output goes to a file: a program that outlived the test would otherwise
            // hold the test runner's output open.
            std::ofstream file(mWork + "/nginx.sh", std::ios::binary);
            file << "exec >>" << ShellQuoted(linuxWork + "/logs/shell.log") << " 2>&1 </dev/null\n"
                 << "exec 3<>/dev/tcp/127.0.0.1/" << lifelinePort << " || exit 1\n"
                 << "PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH\n"
                 << "set -- -p " << ShellQuoted(linuxWork) << " -c " << ShellQuoted(linuxWork + "/nginx.conf") << "\n"
                 << "[ \"$(id -u)\" = 0 ] && set -- \"$@\" -g 'user root;'\n"
                 << ShellQuoted(NginxProgram()) << " \"$@\" 3<&- &\n"
                 << "server=$!\n"
                 << "cat <&3 >/dev/null\n"
                 << "kill -TERM $server\n"
                 << "wait $server\n";
        }
        std::wstring command = L"/bin/bash \"" + WidePath(linuxWork + "/nginx.sh") + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            CloseTestSocket(listener);
            error = "cannot start /bin/bash (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        if (process.hThread != nullptr) CloseHandle(process.hThread);
        if (process.hProcess != nullptr) CloseHandle(process.hProcess);

        // The shell's connection first, then nginx's port, each within five seconds.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        if (WaitTestSocketReadable(listener, 5000) == 1) mProcess = AcceptTestSocket(listener);
        CloseTestSocket(listener);
        if (mProcess < 0) {
            error = "the shell that starts nginx did not call back: " + ReadNativeFile(mWork + "/logs/shell.log");
            return false;
        }
        while (std::chrono::steady_clock::now() < deadline) {
            if (LoopbackAccepts(mPort)) return true;
            if (WaitTestSocketReadable(int(mProcess), 20) < 0) break; // the shell ended: nginx did
        }
        error = "nginx did not come up: " + ReadNativeFile(ErrorLogPath()) + ReadNativeFile(mWork + "/logs/shell.log");
        Stop();
    }
    return false;
}

void NginxServer::Stop() {
    if (mProcess < 0) return;
    CloseTestSocket(int(mProcess));
    mProcess = -1;
    // nginx removes its process id file as it ends; its logs are complete then.
    const std::wstring pidFile = WidePath(mWork + "/nginx.pid");
    for (int i = 0; i < 500 && GetFileAttributesW(pidFile.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int i = 0; i < 500 && LoopbackAccepts(mPort); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
