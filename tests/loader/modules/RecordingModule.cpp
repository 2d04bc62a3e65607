// A game module for the loader's tests: records every call in "module-journal.txt" in the
// current directory and behaves as its configuration text says:
//   create|0       _VobCreate fails
//   ready|N        _VobUpdate reports ready from its N-th call on (default 1)
//   progress|V     the progress it reports (default 0.5)
//   speed|V        the speed it reports (default 42)
//   quiet|1        updates, progress and speed are not recorded (benchmarks)
// Built three ways: with every entry point (RECORDING_OPTIONAL), with the six required only,
// and without _VobMessage (RECORDING_NO_MESSAGE), which the loader must refuse.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "Vexal3DLoader.h"

namespace {

int gUpdates = 0;
int gReadyAt = 1;
int gCreateResult = 1;
float gProgress = 0.5f;
float gSpeed = 42.0f;
bool gQuiet = false;

std::string Narrow(const char16_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += *text < 0x80 ? char(*text) : '?';
    return out;
}

void Record(const std::string& line) {
    if (FILE* file = std::fopen("module-journal.txt", "ab")) {
        std::fputs(line.c_str(), file);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

// Reads the "name|value|..." pairs the loader passes.
void Configure(const std::string& config) {
    size_t position = 0;
    std::string items[2];
    int index = 0;
    while (position <= config.size()) {
        size_t bar = config.find('|', position);
        if (bar == std::string::npos)
            bar = config.size();
        items[index] = config.substr(position, bar - position);
        if (index == 1) {
            const std::string& name = items[0];
            const std::string& value = items[1];
            if (name == "create") gCreateResult = std::atoi(value.c_str());
            if (name == "ready") gReadyAt = std::atoi(value.c_str());
            if (name == "progress") gProgress = float(std::atof(value.c_str()));
            if (name == "speed") gSpeed = float(std::atof(value.c_str()));
            if (name == "quiet") gQuiet = value == "1";
        }
        index ^= 1;
        position = bar + 1;
    }
}

} // namespace

extern "C" {

int _VobCreate(VexalWindow window, const PackageHeader* header, const char16_t* packageUrl,
               const char16_t* configText, int32_t reserved) {
    Configure(Narrow(configText));
    char line[256];
    std::snprintf(line, sizeof(line), "create window=%lu magic=%08x cache=%s reserved=%d",
                  (unsigned long)window, header->magic, Narrow(header->cacheName).c_str(), reserved);
    Record(line);
    Record("url " + Narrow(packageUrl));
    Record("config " + Narrow(configText));
    return gCreateResult;
}

void _VobDelete(VexalWindow) {
    Record("delete");
}

int _VobUpdate(VexalWindow, uint32_t elapsedMs) {
    ++gUpdates;
    const int ready = gUpdates >= gReadyAt ? 1 : 0;
    if (!gQuiet)
        Record("update " + std::to_string(elapsedMs) + " " + std::to_string(ready));
    return ready;
}

void _VobRender(VexalWindow) {
    Record("render");
}

#ifndef RECORDING_NO_MESSAGE
int _VobMessage(VexalWindow, uint32_t message, uint32_t wParam, int32_t lParam) {
    Record("message " + std::to_string(message) + " " + std::to_string(wParam) + " " +
           std::to_string(lParam));
    return message == VEXAL_WM_KEYDOWN ? 1 : 0;
}
#endif

void _VobProgress(float* progress, int32_t* resCount, int32_t* finishCount, int32_t* resSize,
                  int32_t* finishSize) {
    *progress = gProgress;
    *resCount = 7;
    *finishCount = 3;
    (void)resSize;
    (void)finishSize;
    if (!gQuiet)
        Record("progress");
}

#ifdef RECORDING_OPTIONAL
void _VobConfig(const char16_t* name, const char16_t* value) {
    Record("vobconfig " + Narrow(name) + " " + Narrow(value));
}

void _VobSpeed(float* speed) {
    *speed = gSpeed;
    if (!gQuiet)
        Record("speed");
}

uint32_t _VobVersion(void) {
    Record("version");
    return 1;
}

int _VobExternalValue(const char16_t*, char16_t*, int32_t) {
    Record("external");
    return 0;
}
#endif

} // extern "C"
