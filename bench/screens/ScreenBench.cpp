// One frame of the default loading screen at 1920 x 1080: the script-driven pass (the script, the
// _gdi bindings and the drawing layer) against a direct Cairo drawing of the same picture, each
// presented to the same Xvfb window through shared memory; the heap from frame to frame; and the
// same frame (script pass and present) of the Windows build under Wine, on the same display,
// against this build's.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "BenchDisplay.h"
#include "DirectScreen.h"
#include "Source/Script/IScriptManager.h"
#include "screens/Vexal3DLoader_Flash.h"
#include "screens/Vexal3DRenderer_GDI.h"
#include "support/BenchTable.h"
#include "support/ChildRun.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr float kProgress = 0.42f;
// Wine's GDI+ draws in software, some hundred times slower than Cairo: the goal guards against
// regressions of our own under Wine, not against Wine's drawing.
constexpr double kWineFrameGoal = 500.0;

class BenchLoader : public Vexal3DLoader_Flash {
public:
    explicit BenchLoader(Window window) : Vexal3DLoader_Flash(VexalWindow(window), 0) { mProgress = kProgress; }
};

struct Scene {
    Display* display = nullptr;
    Window window = 0;
    std::unique_ptr<BenchLoader> loader;
    std::unique_ptr<DirectScreen> direct;
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

// The rows alternate passes of ours and of the direct drawing: single runs of each side swung by
// more than the margin to the goal on a busy machine. A pass is kFramesPerPass frames, in
// milliseconds per frame: drawing only computes in this process, so its passes count this
// process's processor time; presenting waits for the X server, so its passes count wall time.
constexpr int kFramesPerPass = 20;

VexalBench::Pass PerFrame(void (*frame)(), double (*timer)(const std::function<void()>&)) {
    return [frame, timer] {
        return timer([frame] {
                   for (int i = 0; i < kFramesPerPass; ++i) frame();
               }) *
               1e3 / kFramesPerPass;
    };
}

void ScriptPassDraw() { benchmark::DoNotOptimize(TheScene().loader->GetGdiRenderer()->DrawFrame()); }
void DirectDraw() { TheScene().direct->Draw(kProgress); }
// The frame to present was drawn by the draw rows' passes.
void ScriptPassPresent() { benchmark::DoNotOptimize(TheScene().loader->GetGdiRenderer()->PresentFrame()); }
void DirectPresent() { TheScene().direct->Present(); }

const char kDrawRow[] = "Loading screen 1920x1080: script pass draw vs direct Cairo";
const char kPresentRow[] = "Loading screen 1920x1080: present vs direct XShmPutImage";
constexpr double kDrawGoal = 1.5, kPresentGoal = 1.2;

void AddFrameRows() {
    VexalBench::AddPairedRow({kDrawRow, PerFrame(ScriptPassDraw, VexalBench::CpuSecondsOf),
                              PerFrame(DirectDraw, VexalBench::CpuSecondsOf), 15, VexalBench::LowerIsBetter, kDrawGoal,
                              "ms"});
    VexalBench::AddPairedRow({kPresentRow, PerFrame(ScriptPassPresent, VexalBench::SecondsOf),
                              PerFrame(DirectPresent, VexalBench::SecondsOf), 15, VexalBench::LowerIsBetter,
                              kPresentGoal, "ms"});
}

// Heap in use (after a full script collection) after 200 more frames, against before them.
void MeasureHeapGrowth() {
    Scene& scene = TheScene();
    Vexal::IScriptManager* manager = Vexal::FindScriptManager();
    for (int i = 0; i < 50; ++i) scene.loader->Render();
    manager->CollectGarbage();
    size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 200; ++i) scene.loader->Render();
    manager->CollectGarbage();
    size_t after = mallinfo2().uordblks;
    std::printf("heap in use: %zu bytes before, %zu after 200 frames (%+lld bytes)\n", before, after,
                (long long)after - (long long)before);
    VexalBench::AddFigure("Loading screen: heap after 200 frames vs before", double(after) / 1024.0,
                          double(before) / 1024.0, "KiB", VexalBench::LowerIsBetter, 1.0);
}

// Frames per pass of the row under Wine; each pass of the Windows side is one start of its
// program, whose median frame is the pass's figure. Wine's GDI+ draws in software, hundreds of
// times slower than Cairo: its passes are kept short.
constexpr int kWineFrames = 3;
constexpr int kLinuxFrames = 30;
const char kWineRow[] = "Loading screen 1920x1080 frame (script pass and present) under Wine: DLL vs Linux library";

double LinuxFramePass() {
    Vexal3DRenderer_GDI* renderer = TheScene().loader->GetGdiRenderer();
    std::vector<double> milliseconds;
    for (int i = 0; i < kLinuxFrames; ++i) {
        const auto start = std::chrono::steady_clock::now();
        renderer->DrawFrame();
        renderer->PresentFrame();
        milliseconds.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return VexalBench::Median(milliseconds);
}

void AddWineFrameRow() {
    std::string why;
    const std::string folder = VexalBench::WindowsProgramFolder(why);
    if (folder.empty()) {
        VexalBench::AddUnmeasured(kWineRow, "ms", VexalBench::LowerIsBetter, kWineFrameGoal, why);
        return;
    }
    const std::string program = folder + "/vexal-bench-frame.exe";
    VexalBench::AddPairedRow({kWineRow,
                              [program] {
                                  const VexalBench::ChildResult run =
                                      VexalBench::RunChild({"timeout", "300", "wine", program, std::to_string(kWineFrames)});
                                  const size_t at = run.mOutput.find("frame ms: ");
                                  double milliseconds = -1;
                                  if (!run.mOk || at == std::string::npos ||
                                      std::sscanf(run.mOutput.c_str() + at, "frame ms: %lf", &milliseconds) != 1)
                                      return -1.0;
                                  return milliseconds;
                              },
                              LinuxFramePass, 3, VexalBench::LowerIsBetter, kWineFrameGoal, "ms"});
}

} // namespace

int main(int argc, char** argv) {
    if (!EnsureBenchDisplay()) {
        std::fprintf(stderr, "bench_screens: no X display and Xvfb could not be started\n");
        VexalBench::AddUnmeasured(kDrawRow, "ms", VexalBench::LowerIsBetter, kDrawGoal, "no X display");
        VexalBench::AddUnmeasured(kPresentRow, "ms", VexalBench::LowerIsBetter, kPresentGoal, "no X display");
        VexalBench::AddUnmeasured(kWineRow, "ms", VexalBench::LowerIsBetter, kWineFrameGoal, "no X display");
        return VexalBench::Main(argc, argv);
    }
    // The loader writes its log files into the current directory.
    char folder[] = "/tmp/vexal-bench-screens-XXXXXX";
    if (mkdtemp(folder)) {
        if (chdir(folder) != 0) std::perror("chdir");
    }
    Scene& scene = TheScene();
    scene.window = OpenBenchWindow(&scene.display, kWidth, kHeight);
    if (!scene.window) {
        std::fprintf(stderr, "bench_screens: the benchmark window could not be opened on %s\n", std::getenv("DISPLAY"));
        return 1;
    }
    scene.loader = std::make_unique<BenchLoader>(scene.window);
    scene.direct = std::make_unique<DirectScreen>(scene.display, scene.window, kWidth, kHeight, VEXAL_SCREEN_ASSETS);
    if (!scene.loader->GetGdiRenderer() || !scene.direct->IsValid()) {
        std::fprintf(stderr, "bench_screens: the loading screen or its direct peer could not be set up\n");
        return 1;
    }
    MeasureHeapGrowth();
    AddFrameRows();
    AddWineFrameRow();
    int status = VexalBench::Main(argc, argv);
    scene.direct.reset();
    scene.loader.reset();
    XCloseDisplay(scene.display);
    std::string remove = "rm -rf ";
    remove += folder;
    if (std::system(remove.c_str()) != 0) std::perror("rm");
    return status;
}
