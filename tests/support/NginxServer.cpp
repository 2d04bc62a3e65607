// A private nginx for end-to-end runs.
#include "support/NginxServer.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/NginxConfiguration.h"
#include "support/ScratchFolder.h"
#include "support/TestSockets.h"

namespace {

// A port the system just handed out; free unless someone takes it in the meantime (Start
// retries with another one when nginx cannot bind it).
int FreePort() {
    const int socket = OpenTestSocket();
    const int port = BindLoopback(socket, -1);
    if (socket >= 0) CloseTestSocket(socket);
    return port;
}

} // namespace

std::string NginxProgram() {
    const char* chosen = getenv("VEXAL_NGINX");
    if (chosen != nullptr && *chosen != 0) return chosen;
    if (access("/usr/sbin/nginx", X_OK) == 0) return "/usr/sbin/nginx";
    return "nginx";
}

NginxServer::~NginxServer() { Stop(); }

std::string NginxServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}

bool NginxServer::Start(const std::string& root, const std::string& workFolder, std::string& error) {
    Stop();
    mWork = workFolder;
    for (const char* sub : {"", "/logs", "/temp"}) mkdir((mWork + sub).c_str(), 0755);

    for (int attempt = 0; attempt < 5; ++attempt) {
        mPort = FreePort();
        if (mPort == 0) {
            error = "no free port";
            return false;
        }
        std::string conf = mWork + "/nginx.conf";
        std::ofstream file(conf);
        // Run as root, workers would otherwise drop to "nobody" and could not read a private folder.
        file << NginxConfiguration(root, mWork, mPort, mRateLimit, geteuid() == 0);
        file.close();

        std::string program = NginxProgram();
        pid_t pid = fork();
        if (pid < 0) {
            error = "cannot start nginx";
            return false;
        }
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            execlp(program.c_str(), program.c_str(), "-p", mWork.c_str(), "-c", conf.c_str(), (char*)nullptr);
            _exit(127);
        }
        mProcess = pid;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(mProcess, &status, WNOHANG) == mProcess) {
                mProcess = -1;
                error = WIFEXITED(status) && WEXITSTATUS(status) == 127
                            ? "cannot run " + program
                            : "nginx stopped: " + ReadNativeFile(ErrorLogPath());
                break;
            }
            if (LoopbackAccepts(mPort)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Stop();
        if (error.find("cannot run") == 0) return false;
    }
    if (error.empty()) error = "nginx did not come up";
    return false;
}

void NginxServer::Stop() {
    if (mProcess <= 0) return;
    kill(mProcess, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (waitpid(mProcess, &status, WNOHANG) == mProcess) {
            mProcess = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(mProcess, SIGKILL);
    waitpid(mProcess, nullptr, 0);
    mProcess = -1;
}
