// vexal-host: the launcher. Loads the loader library, gives it a window (or none), passes the
// launch parameters and drives it until the time is up or the window closes.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "HostLibrary.h"
#include "HostOptions.h"
#include "HostText.h"
#include "HostWindow.h"
#include "TcpInput.h"

namespace {

volatile sig_atomic_t gStopRequested = 0;
void RequestStop(int) { gStopRequested = 1; }

int64_t NowNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

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

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kReadyLinger = kSecond / 2;

// Whether a screenshot's moment has come: elapsed since the start, the progress now, and the
// time since the progress reached 1 (below 0 while it has not).
bool ScreenshotDue(const HostScreenshot& shot, int64_t elapsed, float progress, int64_t sinceReady) {
    switch (shot.mTrigger) {
    case HostScreenshot::Trigger::Progress: return double(progress) >= shot.mProgress;
    case HostScreenshot::Trigger::AfterReady: return sinceReady >= 0 && sinceReady >= int64_t(shot.mSeconds * 1e9);
    case HostScreenshot::Trigger::Seconds: break;
    }
    return elapsed >= int64_t(shot.mSeconds * 1e9);
}

// A screenshot that waits for the progress (to reach a value, or 1 and then some time) keeps
// "--until-ready" from stopping the run before it is taken.
bool ProgressShotPending(const std::vector<HostScreenshot>& shots) {
    for (const HostScreenshot& shot : shots)
        if (!shot.mTaken && shot.mTrigger != HostScreenshot::Trigger::Seconds) return true;
    return false;
}

// The loader's trace log in the current directory, named after this program as the library
// names it: "<program>-loader-[Trace].log".
std::string TraceLogPath() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string name = length > 0 ? std::string(path, size_t(length)) : std::string("vexal-host");
    name = name.substr(name.rfind('/') + 1);
    if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    char folder[4096];
    std::string base = getcwd(folder, sizeof(folder)) != nullptr ? std::string(folder) : std::string(".");
    return base + "/" + name + "-loader-[Trace].log";
}

// The loading phase a progress figure belongs to, for a run whose trace log cannot be read.
const char* PhaseOf(float progress) {
    if (progress < 0.1f) return "before or while fetching the package header";
    if (progress < 0.4f) return "fetching module files";
    return "game module created, loading its own data";
}

// Tells a run that ended before the progress reached 1 what it reached, from the loader's own
// trace log: the last state it entered and the last lines it wrote.
void ReportUnfinishedRun(float progress) {
    constexpr size_t kTailLines = 15;
    const std::string path = TraceLogPath();
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::istringstream text(Utf8FromUtf16Bytes(bytes));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    std::string state = "0 (created)";
    for (const std::string& line : lines) {
        size_t at = line.find("[Loader] Enter state ");
        if (at != std::string::npos) state = line.substr(at + 21);
    }
    if (lines.empty()) {
        fprintf(stderr, "vexal-host: the run ended before the progress reached 1: progress %.3f, %s\n",
                double(progress), PhaseOf(progress));
        fprintf(stderr, "vexal-host: no trace log to show (%s is missing or empty; with [VEXAL-DEBUG]=YES the "
                        "log is on the console)\n",
                path.c_str());
        return;
    }
    fprintf(stderr, "vexal-host: the run ended before the progress reached 1: progress %.3f, state %s\n",
            double(progress), PrintableUtf8(state).c_str());
    fprintf(stderr, "vexal-host: the last lines of %s:\n", path.c_str());
    for (size_t i = lines.size() > kTailLines ? lines.size() - kTailLines : 0; i < lines.size(); ++i)
        fprintf(stderr, "  %s\n", PrintableUtf8(lines[i]).c_str());
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

} // namespace

int main(int argc, char** argv) {
    HostOptions options;
    std::string error;
    if (!ParseHostOptions(argc, argv, options, error)) {
        fprintf(stderr, "vexal-host: %s\n%s", error.c_str(), HostUsageText());
        return 2;
    }
    if (options.mHelp) {
        fputs(HostUsageText(), stdout);
        return 0;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    for (const std::string& warning : LaunchParameterWarnings(options))
        fprintf(stderr, "vexal-host: warning: %s\n", warning.c_str());

    // The library path is resolved before changing folder, so a relative --library still works.
    std::string libraryPath = options.mLibrary;
    if (libraryPath.empty()) libraryPath = DefaultLibraryPath();
    else if (libraryPath.find('/') == std::string::npos) libraryPath = "./" + libraryPath;
    if (libraryPath[0] != '/') {
        char folder[4096];
        if (getcwd(folder, sizeof(folder)) != nullptr) libraryPath = std::string(folder) + "/" + libraryPath;
    }
    for (HostScreenshot& shot : options.mScreenshots) {
        if (shot.mPath[0] != '/') {
            char folder[4096];
            if (getcwd(folder, sizeof(folder)) != nullptr) shot.mPath = std::string(folder) + "/" + shot.mPath;
        }
    }
    if (!options.mWorkingDirectory.empty()) {
        if (!MakeFolders(options.mWorkingDirectory) || chdir(options.mWorkingDirectory.c_str()) != 0) {
            fprintf(stderr, "vexal-host: cannot use the folder %s: %s\n", options.mWorkingDirectory.c_str(),
                    strerror(errno));
            return 1;
        }
    }

    HostLibrary library;
    if (!library.Load(libraryPath, error)) {
        fprintf(stderr, "vexal-host: %s\n", error.c_str());
        return 1;
    }

    HostWindow window;
    if (!options.mHeadless && !window.Open(options.mWidth, options.mHeight, "Vexal3D", error)) {
        fprintf(stderr, "vexal-host: %s, running headless\n", error.c_str());
        options.mHeadless = true;
    }
    VexalWindow handle = options.mHeadless ? 0 : window.Handle();

    signal(SIGINT, RequestStop);
    signal(SIGTERM, RequestStop);

    const int64_t start = NowNanoseconds();
    library.mCreate(handle, nullptr, nullptr, nullptr, options.mRunMode);
    for (const auto& parameter : options.mParameters) {
        std::u16string name = WideFromUtf8(parameter.first);
        std::u16string value = WideFromUtf8(parameter.second);
        library.mSetup(name.c_str(), value.c_str());
    }
    library.mStart();

    const int64_t framePeriod = kSecond / options.mFps;
    int64_t lastUpdate = NowNanoseconds();
    int64_t nextFrame = lastUpdate;
    int64_t nextReport = start + kSecond;
    int64_t readyAt = -1;
    int64_t longestUpdate = 0;
    bool screenshotFailed = false;
    TcpInput received;
    uint64_t bytes = received.Sample(), bytesAtReport = bytes;
    int64_t nextSample = start;
    std::vector<HostMessage> messages;

    while (gStopRequested == 0) {
        messages.clear();
        window.Pump(messages);
        for (const HostMessage& message : messages) library.mMessage(nullptr, message.mId, message.mWParam, message.mLParam);
        if (window.IsClosed()) break;

        int64_t now = NowNanoseconds();
        if (now >= nextFrame) {
            // Whole milliseconds only; the remainder is carried into the next update.
            uint32_t elapsed = uint32_t(std::min<int64_t>((now - lastUpdate) / 1000000, 0xFFFFFFFF));
            lastUpdate += int64_t(elapsed) * 1000000;
            int64_t before = NowNanoseconds();
            library.mUpdate(nullptr, elapsed);
            longestUpdate = std::max(longestUpdate, NowNanoseconds() - before);
            library.mRender();
            nextFrame += framePeriod;
            if (nextFrame < now) nextFrame = now + framePeriod;

            now = NowNanoseconds();
            float progress = library.mProgress();
            if (progress >= 1.0f && readyAt < 0) {
                readyAt = now;
                printf("ready after %.3f s\n", double(now - start) / 1e9);
            }
            // A hundred samples a second see nearly every transfer whole, at any frame rate.
            if (now >= nextSample) {
                bytes = received.Sample();
                nextSample = now + kSecond / 100;
            }
            if (now >= nextReport) {
                double seconds = double(now - nextReport + kSecond) / 1e9;
                printf("progress %.3f speed %.1f\n", double(progress), double(bytes - bytesAtReport) / 1000.0 / seconds);
                bytesAtReport = bytes;
                nextReport = now + kSecond;
            }
            for (HostScreenshot& shot : options.mScreenshots) {
                if (shot.mTaken || !ScreenshotDue(shot, now - start, progress, readyAt < 0 ? -1 : now - readyAt)) continue;
                shot.mTaken = true;
                if (options.mHeadless) {
                    fprintf(stderr, "vexal-host: no window to take %s from\n", shot.mPath.c_str());
                    screenshotFailed = true;
                } else if (!window.Screenshot(shot.mPath, error)) {
                    fprintf(stderr, "vexal-host: screenshot %s failed: %s\n", shot.mPath.c_str(), error.c_str());
                    screenshotFailed = true;
                } else {
                    printf("screenshot %s\n", shot.mPath.c_str());
                }
            }
            if (options.mSeconds >= 0.0 && now - start >= int64_t(options.mSeconds * 1e9)) break;
            if (options.mUntilReady && readyAt >= 0 && now - readyAt >= kReadyLinger &&
                !ProgressShotPending(options.mScreenshots))
                break;
        }

        // Sleep until the next frame, waking early for window events.
        int64_t wait = nextFrame - NowNanoseconds();
        if (wait > 0) {
            pollfd descriptor = {window.ConnectionFd(), POLLIN, 0};
            int timeout = int((wait + 999999) / 1000000);
            if (descriptor.fd >= 0) poll(&descriptor, 1, timeout);
            else {
                timespec pause = {time_t(wait / kSecond), long(wait % kSecond)};
                nanosleep(&pause, nullptr);
            }
        }
    }

    const float finalProgress = library.mProgress();
    printf("final progress %.3f\n", double(finalProgress));
    library.mDelete(handle);
    printf("longest update %.1f ms\n", double(longestUpdate) / 1e6);
    window.Close();

    // A run given an end (a time, or the hand-off) that ends without the progress reaching 1
    // failed; so does a run that could not write a screenshot it was asked for.
    int status = 0;
    if ((options.mUntilReady || options.mSeconds >= 0.0) && readyAt < 0) {
        ReportUnfinishedRun(finalProgress);
        status = 1;
    }
    for (const HostScreenshot& shot : options.mScreenshots) {
        if (shot.mTaken) continue;
        fprintf(stderr, "vexal-host: screenshot %s was not taken: the run ended first\n", shot.mPath.c_str());
        screenshotFailed = true;
    }
    if (screenshotFailed) status = 1;
    return status;
}
