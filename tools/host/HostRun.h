// The parts of a host run shared by the Linux and the Windows host programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
