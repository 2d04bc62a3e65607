// The demo game module: the ten entry points the loader binds. It reports a short loading phase
// of its own (about 1.5 s of update time), then draws an animated scene into the host window.
// Everything it is told is recorded as "demo: ..." lines on standard output, and appended to the
// file named by VEXAL_DEMO_RECORD when that variable is set. VEXAL_DEMO_LOAD_MS overrides the
// length of its loading phase (benchmarks set 0 to time the loader alone).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DemoScene.h"
#include "DemoText.h"
#include "Vexal3DLoader.h"

namespace {

constexpr double kDefaultLoadingMs = 1500.0;
// What the demo pretends to load: the figures it writes into the loader's counts.
constexpr int32_t kResourceCount = 7;
constexpr int32_t kResourceBytes = 7 * 1024 * 1024;

struct DemoState {
    double mLoadingMs = kDefaultLoadingMs;
    bool mCreated = false;
    bool mHandedOver = false;
    double mLoadedMs = 0.0;
    double mClockMs = 0.0;
    DemoScene mScene;
};

DemoState* gDemo = nullptr;

void Record(const std::string& line) {
    printf("demo: %s\n", line.c_str());
    fflush(stdout);
    if (const char* path = getenv("VEXAL_DEMO_RECORD"); path != nullptr && *path != 0) {
        if (FILE* file = fopen(path, "a")) {
            fprintf(file, "%s\n", line.c_str());
            fclose(file);
        }
    }
}

double Progress() {
    if (gDemo == nullptr) return 0.0;
    return gDemo->mLoadingMs <= 0.0 ? 1.0 : std::min(1.0, gDemo->mLoadedMs / gDemo->mLoadingMs);
}

// The module learns of the hand-off from the first call that only comes after it.
void NoteHandOver() {
    if (gDemo->mHandedOver) return;
    gDemo->mHandedOver = true;
    Record("handed over");
}

} // namespace

extern "C" {

VEXAL_API int _VobCreate(VexalWindow window, const PackageHeader* header, const char16_t* packageUrl,
                         const char16_t* configText, int32_t reserved) {
    delete gDemo;
    gDemo = new DemoState();
    if (const char* text = getenv("VEXAL_DEMO_LOAD_MS"); text != nullptr && *text != 0) {
        char* end = nullptr;
        double value = strtod(text, &end);
        if (end != text && value >= 0.0 && value < 3600000.0) gDemo->mLoadingMs = value;
    }
    gDemo->mScene.Attach(window);
    Record("create window " + std::string(window ? "yes" : "none") + " reserved " + std::to_string(reserved));
    Record("package " + Utf8FromWide(packageUrl));
    if (header != nullptr) {
        Record("header name " + Utf8FromWide(header->name) + " cache " + Utf8FromWide(header->cacheName));
    }
    std::string config = Utf8FromWide(configText);
    Record("configtext " + config);
    for (const auto& [name, value] : SplitConfigText(config)) Record("config " + name + "=" + value);
    gDemo->mCreated = true;
    return 1;
}

VEXAL_API void _VobDelete(VexalWindow) {
    if (gDemo == nullptr) return;
    Record("delete");
    delete gDemo;
    gDemo = nullptr;
}

VEXAL_API int _VobUpdate(VexalWindow, uint32_t elapsedMs) {
    if (gDemo == nullptr) return 0;
    gDemo->mClockMs += elapsedMs;
    if (!gDemo->mHandedOver) {
        bool wasReady = gDemo->mLoadedMs >= gDemo->mLoadingMs;
        gDemo->mLoadedMs += elapsedMs;
        if (!wasReady && gDemo->mLoadedMs >= gDemo->mLoadingMs) Record("ready");
    }
    gDemo->mScene.Advance(elapsedMs);
    return gDemo->mLoadedMs >= gDemo->mLoadingMs ? 1 : 0;
}

VEXAL_API void _VobRender(VexalWindow) {
    if (gDemo == nullptr) return;
    NoteHandOver();
    gDemo->mScene.Draw();
}

VEXAL_API void _VobConfig(const char16_t* name, const char16_t* value) {
    Record("config call " + Utf8FromWide(name) + "=" + Utf8FromWide(value));
}

VEXAL_API int _VobMessage(VexalWindow, uint32_t message, uint32_t wParam, int32_t lParam) {
    if (gDemo == nullptr) return 0;
    NoteHandOver();
    int32_t x = int16_t(uint32_t(lParam) & 0xFFFF), y = int16_t(uint32_t(lParam) >> 16);
    DemoScene& scene = gDemo->mScene;
    switch (message) {
    case VEXAL_WM_MOUSEMOVE: scene.MouseMove(x, y); return 1;
    case VEXAL_WM_LBUTTONDOWN: scene.LeftClick(x, y); return 1;
    case VEXAL_WM_RBUTTONDOWN: scene.RightClick(); return 1;
    case VEXAL_WM_LBUTTONUP:
    case VEXAL_WM_RBUTTONUP: return 1;
    case VEXAL_WM_KEYDOWN: scene.Key(wParam); return 1;
    case VEXAL_WM_KEYUP: return 1;
    case VEXAL_WM_CHAR: scene.Character(wParam); return 1;
    case VEXAL_WM_SIZE:
        scene.Resize(int32_t(uint32_t(lParam) & 0xFFFF), int32_t(uint32_t(lParam) >> 16));
        Record("size " + std::to_string(scene.GetWidth()) + "x" + std::to_string(scene.GetHeight()));
        return 1;
    case VEXAL_WM_CLOSE:
        Record("close");
        return 0;
    default:
        return 0;
    }
}

VEXAL_API void _VobProgress(float* progress, int32_t* resCount, int32_t* finishCount, int32_t* resSize,
                            int32_t* finishSize) {
    double value = Progress();
    if (progress) *progress = float(value);
    if (resCount) *resCount = kResourceCount;
    if (finishCount) *finishCount = int32_t(std::floor(value * kResourceCount));
    if (resSize) *resSize = kResourceBytes;
    if (finishSize) *finishSize = int32_t(value * kResourceBytes);
}

VEXAL_API void _VobSpeed(float* speed) {
    if (speed == nullptr || gDemo == nullptr) return;
    // Kilobytes per second of the pretend loading; 0 once done.
    double value = Progress() < 1.0 ? 4000.0 + 1500.0 * std::sin(gDemo->mClockMs / 300.0) : 0.0;
    *speed = float(value);
}

VEXAL_API uint32_t _VobVersion(void) { return 1; }

VEXAL_API int _VobExternalValue(const char16_t* name, char16_t* value, int32_t capacity) {
    if (name == nullptr || value == nullptr || capacity <= 0) return 0;
    if (Utf8FromWide(name) != "progress") return 0;
    char text[16];
    snprintf(text, sizeof text, "%.3f", Progress());
    int32_t i = 0;
    for (; text[i] != 0 && i < capacity - 1; ++i) value[i] = char16_t(text[i]);
    value[i] = 0;
    return 1;
}

} // extern "C"
