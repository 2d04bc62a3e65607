// One frame of the default loading screen at 1920 x 1080: the script-driven pass (the script, the
// _gdi bindings and the drawing layer) against a direct Cairo drawing of the same picture, each
// presented to the same Xvfb window through shared memory; and the heap from frame to frame.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BenchDisplay.h"
#include "DirectScreen.h"
#include "Source/Script/IScriptManager.h"
#include "screens/Vexal3DLoader_Flash.h"
#include "screens/Vexal3DRenderer_GDI.h"
#include "support/BenchTable.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr float kProgress = 0.42f;

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

void BM_ScriptPassDraw(benchmark::State& state) {
    Vexal3DRenderer_GDI* renderer = TheScene().loader->GetGdiRenderer();
    for (auto _ : state) benchmark::DoNotOptimize(renderer->DrawFrame());
}

void BM_DirectDraw(benchmark::State& state) {
    for (auto _ : state) TheScene().direct->Draw(kProgress);
}

void BM_ScriptPassPresent(benchmark::State& state) {
    Vexal3DRenderer_GDI* renderer = TheScene().loader->GetGdiRenderer();
    renderer->DrawFrame();
    for (auto _ : state) benchmark::DoNotOptimize(renderer->PresentFrame());
}

void BM_DirectPresent(benchmark::State& state) {
    TheScene().direct->Draw(kProgress);
    for (auto _ : state) TheScene().direct->Present();
}

BENCHMARK(BM_ScriptPassDraw)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DirectDraw)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScriptPassPresent)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DirectPresent)->Unit(benchmark::kMillisecond)->UseRealTime();

VEXAL_BENCH_ROW("Loading screen 1920x1080: script pass draw vs direct Cairo", "BM_ScriptPassDraw", "BM_DirectDraw",
                "time", VexalBench::LowerIsBetter, 1.5, "ms", 1e-6);
VEXAL_BENCH_ROW("Loading screen 1920x1080: present vs direct XShmPutImage", "BM_ScriptPassPresent",
                "BM_DirectPresent", "time", VexalBench::LowerIsBetter, 1.2, "ms", 1e-6);

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

} // namespace

int main(int argc, char** argv) {
    if (!EnsureBenchDisplay()) {
        std::fprintf(stderr, "bench_screens: no X display and Xvfb could not be started\n");
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
    int status = VexalBench::Main(argc, argv);
    scene.direct.reset();
    scene.loader.reset();
    XCloseDisplay(scene.display);
    std::string remove = "rm -rf ";
    remove += folder;
    if (std::system(remove.c_str()) != 0) std::perror("rm");
    return status;
}
