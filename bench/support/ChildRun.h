// Programs the benchmarks start as children (the host, vexal-pack, curl, zstd, programs under
// Wine), timed from the start until they end or until a line of their standard output begins
// with a marker, with their peak memory; and the files the benchmarks hand them.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace VexalBench {

inline double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct ChildResult {
    bool mOk = false;      // ended with status 0 (and printed the marker, when one was given)
    double mSeconds = 0.0; // until the marker line appeared (or the end without a marker)
    long mPeakKiB = 0;     // the child's peak resident size
    std::string mOutput;   // the start of its standard output, up to kKeptOutput bytes (errors are discarded)
};

constexpr size_t kKeptOutput = 64 * 1024;

// Runs a program with its standard output read line by line. environment adds NAME=VALUE
// assignments to the inherited ones.
inline ChildResult RunChild(const std::vector<std::string>& argv, const std::string& marker = "",
                            const std::vector<std::string>& environment = {}) {
    ChildResult result;
    int pipeFds[2];
    if (argv.empty() || pipe(pipeFds) != 0) return result;
    const double start = Now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        for (const std::string& assignment : environment) putenv(const_cast<char*>(assignment.c_str()));
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return result;
    }
    double markerTime = -1.0;
    std::string pending;
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], chunk, sizeof chunk)) > 0) {
        pending.append(chunk, size_t(got));
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            if (!marker.empty() && markerTime < 0 && pending.compare(0, marker.size(), marker) == 0) markerTime = Now();
            if (result.mOutput.size() < kKeptOutput) result.mOutput.append(pending, 0, newline + 1);
            pending.erase(0, newline + 1);
        }
    }
    if (result.mOutput.size() < kKeptOutput) result.mOutput += pending.substr(0, kKeptOutput);
    close(pipeFds[0]);
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    const double end = Now();
    result.mPeakKiB = usage.ru_maxrss;
    result.mOk = WIFEXITED(status) && WEXITSTATUS(status) == 0 && (marker.empty() || markerTime >= 0);
    result.mSeconds = (marker.empty() ? end : markerTime) - start;
    return result;
}

inline bool WriteFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// The folder of the Windows build's programs, which run under Wine: ./run bench names it in
// VEXAL_WIN32_BIN once the Windows build and its Wine prefix are ready, and otherwise says why
// not in VEXAL_WIN32_UNAVAILABLE. Empty, with the reason in why, when they cannot run here.
inline std::string WindowsProgramFolder(std::string& why) {
    const char* folder = std::getenv("VEXAL_WIN32_BIN");
    if (folder != nullptr && *folder != '\0') return folder;
    const char* reason = std::getenv("VEXAL_WIN32_UNAVAILABLE");
    why = reason != nullptr && *reason != '\0' ? reason : "no Windows build was prepared (./run bench prepares it)";
    return "";
}

} // namespace VexalBench
