// vexal-bench-frame: the loading screen's frame on Windows, timed for the benchmark table. The
// default screen at 1920 x 1080 in a window of its own: each frame is the script pass (the script,
// the _gdi bindings, the GDI+ drawing) and its presentation in one block transfer, as the
// library draws it in a host's window. bench_screens runs this under Wine beside the same frame
// of the Linux build and prints the ratio.
//
// usage: vexal-bench-frame [FRAMES]   prints "frame ms: MEDIAN (draw MEDIAN, present MEDIAN)"
// (exit status 1 when the window or the screen cannot be set up, with the reason on the standard
// error)
#include <windows.h>
#include <gdiplus.h>
#undef CreateFont

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "screens/Vexal3DLoader_Flash.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr float kProgress = 0.42f; // the Linux benchmark's frame

class FrameLoader : public Vexal3DLoader_Flash {
public:
    explicit FrameLoader(HWND window) : Vexal3DLoader_Flash(VexalWindow(reinterpret_cast<uintptr_t>(window)), 0) {
        mProgress = kProgress;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    // The host process starts GDI+; the library never does.
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::fprintf(stderr, "vexal-bench-frame: GDI+ could not be started\n");
        return 1;
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VexalBenchFrame";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"VexalBenchFrame", L"frame benchmark", WS_POPUP | WS_VISIBLE, 0, 0, kWidth,
                                  kHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "vexal-bench-frame: the window could not be created\n");
        return 1;
    }
    Pump();
    int status = 0;
    {
        FrameLoader loader(window);
        Vexal3DRenderer_GDI* renderer = loader.GetGdiRenderer();
        if (renderer == nullptr) {
            std::fprintf(stderr, "vexal-bench-frame: the loading screen could not be set up\n");
            status = 1;
        } else {
            // Pictures decoded, fonts found, the script's first frames run.
            for (int i = 0; i < 2; ++i) {
                renderer->DrawFrame();
                renderer->PresentFrame();
            }
            Pump();
            std::vector<double> frame, draw, present;
            for (int i = 0; i < frames; ++i) {
                const auto start = std::chrono::steady_clock::now();
                renderer->DrawFrame();
                const auto drawn = std::chrono::steady_clock::now();
                renderer->PresentFrame();
                const auto end = std::chrono::steady_clock::now();
                frame.push_back(std::chrono::duration<double, std::milli>(end - start).count());
                draw.push_back(std::chrono::duration<double, std::milli>(drawn - start).count());
                present.push_back(std::chrono::duration<double, std::milli>(end - drawn).count());
                Pump();
            }
            std::printf("frame ms: %.4f (draw %.4f, present %.4f)\n", Median(frame), Median(draw), Median(present));
        }
    }
    DestroyWindow(window);
    Gdiplus::GdiplusShutdown(token);
    return status;
}
