// Starts and stops the benchmark's nginx.
#include "NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace {

uint16_t FreePort() {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    uint16_t port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}

bool Accepts(uint16_t port) {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(probe);
    return ok;
}

} // namespace

bool NginxServer::Start(const std::string& name, size_t size) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "vexal-bench-nginx-XXXXXX").string();
    std::vector<char> folder(pattern.begin(), pattern.end());
    folder.push_back(0);
    if (mkdtemp(folder.data()) == nullptr) {
        std::fprintf(stderr, "bench: cannot create a temporary folder\n");
        return false;
    }
    mFolder = folder.data();
    // nginx's worker runs as an unprivileged user when started by root: it must read the files.
    fs::permissions(mFolder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec, error);
    fs::create_directories(mFolder + "/www");
    fs::create_directories(mFolder + "/temp");

    {
        std::ofstream body(mFolder + "/www/" + name, std::ios::binary);
        std::vector<char> block(1 << 20);
        uint32_t state = 12345;
        for (char& byte : block) {
            state = state * 1103515245u + 12345u;
            byte = char(state >> 16);
        }
        for (size_t written = 0; written < size; written += block.size()) {
            body.write(block.data(), std::streamsize(std::min(block.size(), size - written)));
        }
        if (!body) {
            std::fprintf(stderr, "bench: cannot write the body file\n");
            return false;
        }
    }

    mPort = FreePort();
    std::string temp = mFolder + "/temp";
    std::ofstream config(mFolder + "/nginx.conf");
    config << "worker_processes 1;\n"
           << "daemon off;\n"
           << "pid " << mFolder << "/nginx.pid;\n"
           << "error_log " << mFolder << "/error.log warn;\n"
           << "events { worker_connections 64; }\n"
           << "http {\n"
           << "  access_log off;\n"
           << "  sendfile on;\n"
           << "  tcp_nopush on;\n"
           << "  keepalive_timeout 60;\n"
           << "  default_type application/octet-stream;\n"
           << "  client_body_temp_path " << temp << "/body;\n"
           << "  proxy_temp_path " << temp << "/proxy;\n"
           << "  fastcgi_temp_path " << temp << "/fastcgi;\n"
           << "  uwsgi_temp_path " << temp << "/uwsgi;\n"
           << "  scgi_temp_path " << temp << "/scgi;\n"
           << "  server {\n"
           << "    listen 127.0.0.1:" << mPort << ";\n"
           << "    root " << mFolder << "/www;\n"
           << "  }\n"
           << "}\n";
    config.close();

    std::string configPath = mFolder + "/nginx.conf";
    std::string errorPath = mFolder + "/error.log";
    std::vector<std::string> arguments = {"nginx", "-p", mFolder, "-c", configPath, "-e", errorPath};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&mProcess, "nginx", nullptr, nullptr, argv.data(), environ) != 0) {
        mProcess = -1;
        std::fprintf(stderr, "bench: cannot start nginx (is the nginx package installed?)\n");
        return false;
    }
    for (int i = 0; i < 500 && !Accepts(mPort); ++i) {
        int status = 0;
        if (waitpid(mProcess, &status, WNOHANG) == mProcess) {
            mProcess = -1;
            std::fprintf(stderr, "bench: nginx ended at start-up; see %s\n", errorPath.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!Accepts(mPort)) {
        std::fprintf(stderr, "bench: nginx does not accept connections\n");
        return false;
    }
    mUrl = "http://127.0.0.1:" + std::to_string(mPort) + "/" + name;
    return true;
}

void NginxServer::Stop() {
    if (mProcess > 0) {
        kill(mProcess, SIGQUIT);
        int status = 0;
        waitpid(mProcess, &status, 0);
        mProcess = -1;
    }
    if (!mFolder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(mFolder, error);
        mFolder.clear();
    }
}
