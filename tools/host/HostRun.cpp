// The parts of a host run that do not depend on the platform: when a screenshot is due, and the
// report of a run that ended before the hand-off.
#include "HostRun.h"

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
