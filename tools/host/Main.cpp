// vexal-host: the launcher. Loads the loader library, gives it a window (or none), passes the
// launch parameters and drives it until the time is up or the window closes. This file is its
// Linux side: the X11 window, the clock, the folders, signals and the received bytes.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "HostLibrary.h"
#include "HostRun.h"
#include "HostWindow.h"
#include "TcpInput.h"

namespace {

volatile sig_atomic_t gStopRequested = 0;
void RequestStop(int) { gStopRequested = 1; }

// Creates the folder and its parents (like mkdir -p).
bool MakeFolders(const std::string& path) {
    std::string partial;
    size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        partial = path.substr(0, position);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The loader library when --library is not given: the one beside this program (a build tree),
// else the installed one, looked for relative to this program first so that an install staged
// or moved as a whole uses its own library.
std::string DefaultLibraryPath() {
    const std::string folder = ExecutableFolder();
    const std::string beside = folder + "/Vexal3DLoader-Flash.so";
#ifdef VEXAL_INSTALLED_LIBRARY
    if (access(beside.c_str(), F_OK) == 0) return beside;
    const std::string relative = folder + "/" VEXAL_INSTALLED_LIBRARY_RELATIVE;
    if (access(relative.c_str(), F_OK) == 0) return relative;
    return VEXAL_INSTALLED_LIBRARY;
#else
    return beside;
#endif
}

class LinuxHost : public HostPlatform {
public:
    int64_t Now() override {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

    std::string LibraryPath(const std::string& given) override {
        if (given.empty()) return AbsolutePath(DefaultLibraryPath());
        // A bare name would send dlopen to the system's library path.
        return AbsolutePath(given.find('/') == std::string::npos ? "./" + given : given);
    }

    std::string AbsolutePath(const std::string& path) override {
        if (path[0] == '/') return path;
        char folder[4096];
        return getcwd(folder, sizeof(folder)) != nullptr ? std::string(folder) + "/" + path : path;
    }

    bool EnterFolder(const std::string& path, std::string& error) override {
        if (MakeFolders(path) && chdir(path.c_str()) == 0) return true;
        error = "cannot use the folder " + path + ": " + strerror(errno);
        return false;
    }

    // "<program>-loader-[Trace].log" in the current directory.
    std::string TraceLogPath() override {
        char path[4096];
        ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
        std::string name = length > 0 ? std::string(path, size_t(length)) : std::string("vexal-host");
        name = name.substr(name.rfind('/') + 1);
        if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
        char folder[4096];
        std::string base = getcwd(folder, sizeof(folder)) != nullptr ? std::string(folder) : std::string(".");
        return base + "/" + name + "-loader-[Trace].log";
    }

    void SetLibrary(HostLibrary* library) override { mLibrary = library; }
    bool OpenWindow(int32_t width, int32_t height, std::string& error) override {
        return mWindow.Open(width, height, "Vexal3D", error);
    }
    VexalWindow WindowHandle() override { return mWindow.Handle(); }
    void Pump() override {
        mMessages.clear();
        mWindow.Pump(mMessages);
        for (const HostMessage& message : mMessages)
            if (mLibrary != nullptr) mLibrary->mMessage(nullptr, message.mId, message.mWParam, message.mLParam);
    }
    bool WindowClosed() override { return mWindow.IsClosed(); }
    bool Screenshot(const std::string& path, std::string& error) override { return mWindow.Screenshot(path, error); }
    void CloseWindow() override { mWindow.Close(); }

    void WatchStopRequests() override {
        signal(SIGINT, RequestStop);
        signal(SIGTERM, RequestStop);
    }
    bool StopRequested() override { return gStopRequested != 0; }

    void Wait(int64_t wait) override {
        pollfd descriptor = {mWindow.ConnectionFd(), POLLIN, 0};
        int timeout = int((wait + 999999) / 1000000);
        if (descriptor.fd >= 0) poll(&descriptor, 1, timeout);
        else {
            timespec pause = {time_t(wait / kSecond), long(wait % kSecond)};
            nanosleep(&pause, nullptr);
        }
    }

    bool ReceivedBytes(uint64_t& bytes) override {
        bytes = mReceived.Sample();
        return true;
    }

private:
    HostWindow mWindow;
    HostLibrary* mLibrary = nullptr;
    std::vector<HostMessage> mMessages;
    TcpInput mReceived;
};

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    LinuxHost platform;
    return RunHost(argc, argv, platform);
}
