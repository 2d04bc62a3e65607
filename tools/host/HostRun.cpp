// The parts of a host run that do not depend on the platform: the run itself, when a screenshot
// is due, and the report of a run that ended before the hand-off.
#include "HostRun.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "HostText.h"

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

namespace {

// The loading phase a progress figure belongs to, for a run whose trace log cannot be read.
const char* PhaseOf(float progress) {
    if (progress < 0.1f) return "before or while fetching the package header";
    if (progress < 0.4f) return "fetching module files";
    return "game module created, loading its own data";
}

} // namespace

// Tells a run that ended before the progress reached 1 what it reached, from the loader's own
// trace log: the last state it entered and the last lines it wrote.
void ReportUnfinishedRun(float progress, const std::string& path) {
    constexpr size_t kTailLines = 15;
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

int RunHost(int argc, const char* const* argv, HostPlatform& platform) {
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
    for (const std::string& warning : LaunchParameterWarnings(options))
        fprintf(stderr, "vexal-host: warning: %s\n", warning.c_str());

    // The library path is resolved before changing folder, so a relative --library still works.
    const std::string libraryPath = platform.LibraryPath(options.mLibrary);
    for (HostScreenshot& shot : options.mScreenshots)
        shot.mPath = platform.AbsolutePath(shot.mPath);
    if (!options.mWorkingDirectory.empty() && !platform.EnterFolder(options.mWorkingDirectory, error)) {
        fprintf(stderr, "vexal-host: %s\n", error.c_str());
        return 1;
    }

    HostLibrary library;
    if (!library.Load(libraryPath, error)) {
        fprintf(stderr, "vexal-host: %s\n", error.c_str());
        return 1;
    }
    platform.SetLibrary(&library);

    if (!options.mHeadless && !platform.OpenWindow(options.mWidth, options.mHeight, error)) {
        fprintf(stderr, "vexal-host: %s, running headless\n", error.c_str());
        options.mHeadless = true;
    }
    VexalWindow handle = options.mHeadless ? 0 : platform.WindowHandle();
    platform.WatchStopRequests();

    const int64_t start = platform.Now();
    library.mCreate(handle, nullptr, nullptr, nullptr, options.mRunMode);
    for (const auto& parameter : options.mParameters) {
        std::u16string name = WideFromUtf8(parameter.first);
        std::u16string value = WideFromUtf8(parameter.second);
        library.mSetup(name.c_str(), value.c_str());
    }
    library.mStart();

    const int64_t framePeriod = kSecond / options.mFps;
    int64_t lastUpdate = platform.Now();
    int64_t nextFrame = lastUpdate;
    int64_t nextReport = start + kSecond;
    int64_t readyAt = -1;
    int64_t longestUpdate = 0;
    bool screenshotFailed = false;
    // Where the system tells the bytes received, the reports give the download speed too.
    uint64_t bytes = 0;
    const bool counted = platform.ReceivedBytes(bytes);
    uint64_t bytesAtReport = bytes;
    int64_t nextSample = start;

    while (!platform.StopRequested()) {
        platform.Pump();
        if (platform.WindowClosed()) break;

        int64_t now = platform.Now();
        if (now >= nextFrame) {
            // Whole milliseconds only; the remainder is carried into the next update.
            uint32_t elapsed = uint32_t(std::min<int64_t>((now - lastUpdate) / 1000000, 0xFFFFFFFF));
            lastUpdate += int64_t(elapsed) * 1000000;
            int64_t before = platform.Now();
            library.mUpdate(nullptr, elapsed);
            longestUpdate = std::max(longestUpdate, platform.Now() - before);
            library.mRender();
            nextFrame += framePeriod;
            if (nextFrame < now) nextFrame = now + framePeriod;

            now = platform.Now();
            float progress = library.mProgress();
            if (progress >= 1.0f && readyAt < 0) {
                readyAt = now;
                printf("ready after %.3f s\n", double(now - start) / 1e9);
            }
            // A hundred samples a second see nearly every transfer whole, at any frame rate.
            if (counted && now >= nextSample) {
                platform.ReceivedBytes(bytes);
                nextSample = now + kSecond / 100;
            }
            if (now >= nextReport) {
                double seconds = double(now - nextReport + kSecond) / 1e9;
                if (counted)
                    printf("progress %.3f speed %.1f\n", double(progress), double(bytes - bytesAtReport) / 1000.0 / seconds);
                else
                    printf("progress %.3f\n", double(progress));
                bytesAtReport = bytes;
                nextReport = now + kSecond;
            }
            for (HostScreenshot& shot : options.mScreenshots) {
                if (shot.mTaken || !ScreenshotDue(shot, now - start, progress, readyAt < 0 ? -1 : now - readyAt)) continue;
                shot.mTaken = true;
                if (options.mHeadless) {
                    fprintf(stderr, "vexal-host: no window to take %s from\n", shot.mPath.c_str());
                    screenshotFailed = true;
                } else if (!platform.Screenshot(shot.mPath, error)) {
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
        int64_t wait = nextFrame - platform.Now();
        if (wait > 0) platform.Wait(wait);
    }

    const float finalProgress = library.mProgress();
    printf("final progress %.3f\n", double(finalProgress));
    library.mDelete(handle);
    printf("longest update %.1f ms\n", double(longestUpdate) / 1e6);
    platform.SetLibrary(nullptr);
    platform.CloseWindow();

    // A run given an end (a time, or the hand-off) that ends without the progress reaching 1
    // failed; so does a run that could not write a screenshot it was asked for.
    int status = 0;
    if ((options.mUntilReady || options.mSeconds >= 0.0) && readyAt < 0) {
        ReportUnfinishedRun(finalProgress, platform.TraceLogPath());
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
