// vexal-screen: shows a loading-screen script the way the loader shows it, in a real loader
// object's GDI screen, with the progress figures driven from the command line; the script's
// errors, slow calls, call profile and allocations go to the console.
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "HostWindow.h"
#include "PreviewOptions.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Script/IScriptManager.h"
#include "screens/Vexal3DLoader_Flash.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

constexpr int64_t kFrameNs = 16666667;        // about 60 frames a second
constexpr uint32_t kWmClose = 0x0010;
// The simulated download: eight module files of 64 MiB in all.
constexpr int32_t kModules = 8;
constexpr double kPackageBytes = 64.0 * 1024 * 1024;

int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The loader the host would get, with the figures its screen reads set by the tool.
class PreviewLoader : public Vexal3DLoader_Flash {
public:
    explicit PreviewLoader(VexalWindow window) : Vexal3DLoader_Flash(window, 0) {}
    // progress 0..1; speed in kB/s (0 once everything is there).
    void SetFigures(double progress, double speed) {
        mProgress = float(progress);
        mSpeed = float(speed);
        mResCount = kModules;
        mFinishCount = int32_t(progress * kModules);
        mResSize = int32_t(kPackageBytes);
        mFinishSize = int32_t(progress * kPackageBytes);
    }
};

bool ReadScript(const std::string& path, Buffer& script) {
    WideChar* wide = Utf8ToUtf16(nullptr, 0, path.c_str());
    if (wide == nullptr) return false;
    bool read = ReadFileToBuffer(script, wide) && script.GetSize() > 0;
    std::free(wide);
    if (!read) return false;
    // Messages name the script by its file name, as the loader names its own.
    size_t slash = path.find_last_of('/');
    WideChar* name = Utf8ToUtf16(nullptr, 0, path.c_str() + (slash == std::string::npos ? 0 : slash + 1));
    script.SetName(name ? name : u"script");
    std::free(name);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    PreviewOptions options;
    std::string message;
    bool help = false;
    if (!ParsePreviewOptions(argc - 1, argv + 1, options, message, help)) {
        std::fputs(message.c_str(), help ? stdout : stderr);
        if (!help) std::fputc('\n', stderr);
        return help ? 0 : 2;
    }
    Buffer script;
    if (!ReadScript(options.mScript, script)) {
        std::fprintf(stderr, "vexal-screen: cannot read %s\n", options.mScript.c_str());
        return 1;
    }

    // Every log line of the loader and the script runtime goes to the console.
    setenv("[VEXAL-DEBUG]", "YES", 1);
    SetLogSinks(ConsoleLogSink, nullptr, ConsoleLogSink, nullptr);

    HostWindow window;
    std::string error;
    std::string title = "vexal-screen: " + options.mScript;
    if (!window.Open(options.mWidth, options.mHeight, title.c_str(), error)) {
        std::fprintf(stderr, "vexal-screen: %s (without a display, run it under Xvfb: xvfb-run vexal-screen ...)\n",
                     error.c_str());
        return 1;
    }

    // The profiler and the allocation observer start before the loader registers its class and
    // runs the default script, so both are measured from the first call.
    Vexal::IScriptManager* manager = Vexal::GetScriptManager();
    if (manager == nullptr) {
        std::fprintf(stderr, "vexal-screen: the script runtime could not start\n");
        return 1;
    }
    if (options.mProfile || options.mSlowMs > 0) manager->EnableProfiler(true);
    if (options.mSlowMs > 0) manager->SetCostThreshold(options.mSlowMs);
    if (options.mAllocMinimum > 0) manager->TrackAllocations(options.mAllocMinimum);

    int status = 0;
    {
        PreviewLoader loader(window.Handle());
        if (loader.GetGdiRenderer() == nullptr) {
            std::fprintf(stderr, "vexal-screen: the loader did not choose the script-drawn screen\n");
            return 1;
        }
        double startProgress = options.mSeconds > 0 ? 0.0 : options.mProgress;
        // kB/s: the package over the given seconds, or a steady 1 MiB/s at a fixed progress.
        double speed = options.mSeconds > 0 ? kPackageBytes / 1024.0 / options.mSeconds : 1024.0;
        loader.SetFigures(startProgress, startProgress < 1 ? speed : 0.0);
        // The author's script runs after the default one, so its render function takes over.
        manager->RunBuffer(nullptr, &script, 0);

        double endAt = options.mSeconds;
        bool shotPending = !options.mScreenshot.empty();
        if (shotPending) endAt = std::max(endAt, options.mScreenshotAt);
        bool runsUntilClosed = options.mSeconds <= 0 && !shotPending;

        int64_t start = NowNanoseconds();
        int64_t lastUpdate = start;
        int64_t nextFrame = start;
        std::vector<HostMessage> messages;
        for (;;) {
            messages.clear();
            window.Pump(messages);
            bool closed = window.IsClosed();
            for (const HostMessage& m : messages) {
                if (m.mId == kWmClose) closed = true;
                loader.Message(MessageRecord{m.mId, m.mWParam, m.mLParam});
            }
            if (closed) break;

            int64_t now = NowNanoseconds();
            if (now >= nextFrame) {
                double seconds = double(now - start) / 1e9;
                double progress = options.mSeconds > 0 ? std::min(seconds / options.mSeconds, 1.0) : options.mProgress;
                uint32_t elapsed = uint32_t(std::min<int64_t>((now - lastUpdate) / 1000000, 0xFFFFFFFF));
                lastUpdate += int64_t(elapsed) * 1000000;
                loader.Update(elapsed);
                loader.SetFigures(progress, progress < 1 ? speed : 0.0);
                loader.Render();
                nextFrame = std::max(nextFrame + kFrameNs, now);
                if (shotPending && seconds >= options.mScreenshotAt) {
                    shotPending = false;
                    if (!window.Screenshot(options.mScreenshot, error)) {
                        std::fprintf(stderr, "vexal-screen: screenshot: %s\n", error.c_str());
                        status = 1;
                    } else {
                        std::printf("vexal-screen: wrote %s at %.2f s\n", options.mScreenshot.c_str(), seconds);
                    }
                }
                if (!runsUntilClosed && !shotPending && seconds >= endAt) break;
            }
            int64_t wait = std::max<int64_t>(0, (nextFrame - NowNanoseconds()) / 1000000);
            pollfd descriptor = {window.ConnectionFd(), POLLIN, 0};
            if (descriptor.fd >= 0) poll(&descriptor, 1, int(std::min<int64_t>(wait, 100)));
        }
        if (options.mAllocMinimum > 0) manager->TrackAllocations(0);
        // Releasing the screen deletes the script manager, which dumps the profile.
    }
    std::fflush(stdout);
    window.Close();
    return status;
}
