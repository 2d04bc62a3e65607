// Command line of vexal-host: options and the launch parameters it passes to the loader.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One "--screenshot FILE@WHEN": a PNG of the window written once, when WHEN comes.
struct HostScreenshot {
    enum class Trigger {
        Seconds,    // "S": the run has lasted mSeconds
        Progress,   // "P%": the progress has first reached mProgress (0..1)
        AfterReady, // "ready+S": mSeconds after the progress reached 1 (the hand-off, unless a
                    // launch delay still holds it then)
    };
    std::string mPath;
    Trigger mTrigger = Trigger::Seconds;
    double mSeconds = 0.0;
    double mProgress = 0.0;
    bool mTaken = false;
};

struct HostOptions {
    std::string mLibrary;   // empty: beside the executable, else the installed library
    bool mHeadless = false; // null window, no display connection
    int32_t mWidth = 1280;
    int32_t mHeight = 720;
    int32_t mFps = 60;
    double mSeconds = -1.0; // below 0: run until the window closes (or a signal)
    uint32_t mRunMode = 0;
    std::string mWorkingDirectory; // the module cache; empty keeps the current directory
    bool mUntilReady = false;      // stop shortly after the progress has reached 1
    std::vector<HostScreenshot> mScreenshots;
    // name=value pairs in the order given; a value may be empty.
    std::vector<std::pair<std::string, std::string>> mParameters;
    bool mHelp = false;
};

// Reads argv[1..argc-1] into options. On a usage error returns false with a one-line reason in
// error (options then hold what was read so far). "--help" sets mHelp and returns true.
bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

// The usage text printed for --help and after a usage error.
const char* HostUsageText();

// What is likely wrong with the launch parameters, one line each: a name the loader does not
// know (it ignores it), with the known name it most resembles; no package address at all
// ("voaurl", "serverdataurl" or "serverdata"), so the loader never gets past its loading screen.
std::vector<std::string> LaunchParameterWarnings(const HostOptions& options);

// Reads the WHEN of "--screenshot FILE@WHEN" ("2.5", "30%", "ready+1.5") into shot's trigger
// and figures. False when the text is none of these forms (shot is then unchanged).
bool ParseScreenshotTime(const std::string& text, HostScreenshot& shot);
