// The parts of a host run shared by the Linux and the Windows host programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostLibrary.h"
#include "HostOptions.h"

constexpr int64_t kSecond = 1000000000;
// How long a run given --until-ready goes on after the progress reached 1.
constexpr int64_t kReadyLinger = kSecond / 2;

// Whether a screenshot's moment has come: elapsed since the start, the progress now, and the
// time since the progress reached 1 (below 0 while it has not).
bool ScreenshotDue(const HostScreenshot& shot, int64_t elapsed, float progress, int64_t sinceReady);

// A screenshot that waits for the progress (to reach a value, or 1 and then some time) keeps
// "--until-ready" from stopping the run before it is taken.
bool ProgressShotPending(const std::vector<HostScreenshot>& shots);

// Tells a run that ended before the progress reached 1 what it reached, from the loader's own
// trace log at path: the last state it entered and the last lines it wrote.
void ReportUnfinishedRun(float progress, const std::string& path);

// What a host program's system side gives the run: the clock, the folders, its window (or none)
// and waiting. One per platform.
class HostPlatform {
public:
    virtual ~HostPlatform() = default;

    // A steady clock, in nanoseconds.
    virtual int64_t Now() = 0;
    // The library to load: the path --library gave made absolute (empty: the default one).
    virtual std::string LibraryPath(const std::string& given) = 0;
    // A path of the command line made absolute against the current folder.
    virtual std::string AbsolutePath(const std::string& path) = 0;
    // Creates the folder with its parents and makes it the current folder; false with the whole
    // message ("cannot use the folder ...") in error.
    virtual bool EnterFolder(const std::string& path, std::string& error) = 0;
    // The loader's trace log, named after this program as the library names it.
    virtual std::string TraceLogPath() = 0;

    // The library the window's messages go to; nullptr once it is deleted.
    virtual void SetLibrary(HostLibrary* library) = 0;
    // Opens the window of that client size; false with a reason.
    virtual bool OpenWindow(int32_t width, int32_t height, std::string& error) = 0;
    // The window as the loader takes it.
    virtual VexalWindow WindowHandle() = 0;
    // Hands every waiting window event to the library as its message (never blocks).
    virtual void Pump() = 0;
    // Whether the window was closed by its user.
    virtual bool WindowClosed() = 0;
    // Writes the window's client area as a PNG; false with a reason.
    virtual bool Screenshot(const std::string& path, std::string& error) = 0;
    virtual void CloseWindow() = 0;

    // From now on an interrupt or termination request asks the run to stop.
    virtual void WatchStopRequests() = 0;
    virtual bool StopRequested() = 0;
    // Sleeps up to that long, waking early for window events.
    virtual void Wait(int64_t nanoseconds) = 0;
    // The bytes the process has received so far; false when the system does not tell.
    virtual bool ReceivedBytes(uint64_t& bytes) = 0;
};

// A whole host run from its command line: the options read, the library loaded and driven frame
// by frame until the time is up, the hand-off, the window closing or a stop request. The exit
// status: 0, 1 for a failed run, 2 for a usage error.
int RunHost(int argc, const char* const* argv, HostPlatform& platform);
