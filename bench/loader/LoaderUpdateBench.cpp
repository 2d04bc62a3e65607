// _VexalUpdate per call in the states where the host's thread must not wait: 3 (header data not
// yet arriving), 4 (a block downloading), 5 (the demo module loading) and 6 (relaying to it),
// against an empty exported call of the same library. Budget: 2 microseconds per update.
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>
#include "Source/Common/PackageBuilder.h"
#include "support/BenchTable.h"
#include "support/HttpTestServer.h"
#include "support/LoaderLibrary.h"
#include "support/ScratchFolder.h"

namespace {

constexpr double kBudgetNs = 2000.0;

struct Bench {
    LoaderLibrary library;
    HttpTestServer server;
    std::string package;
    std::string game;
    int phase = 0;
    bool ready = false;
};

std::string ReadAll(const char* path) { return ReadNativeFile(path); }

std::u16string Wide(const std::string& text) { return HttpTestServer::Wide(text); }

std::string Package(const std::string& module) {
    PackageBuilder builder;
    builder.SetCacheName(u"bench");
    builder.AddModule(u"game.so", module.data(), uint32_t(module.size()), kPackZlib, 1);
    Buffer output;
    builder.Finish(output);
    return std::string(reinterpret_cast<const char*>(output.GetData()), output.GetSize());
}

Bench& State() {
    static Bench* bench = [] {
        Bench* b = new Bench;
        static ScratchFolder folder;
        if (chdir(folder.Native().c_str()) != 0)
            std::abort();
        LoaderLibrary& l = b->library;
        if (!l.Open(VEXAL_LOADER_LIBRARY))
            std::abort();
        b->ready = b->server.Start();
        b->game = Package(ReadAll(VEXAL_DEMO_MODULE));
        b->server.Route("/silent", HttpPlan::Body("never").Silent());
        b->server.Route("/game", HttpPlan::Body(b->game));
        const std::string stalled = b->game;
        b->server.Handle("/stall", [stalled](const HttpRequest& request, int) {
            const std::string range = request.Header("Range");
            bool block = !range.empty() && range != "bytes=0-1131";
            return block ? HttpPlan::Body(stalled).StallAfter(16) : HttpPlan::Body(stalled);
        });
        return b;
    }();
    return *bench;
}

void Setup(const std::string& name, const std::string& value) {
    State().library.mSetup(Wide(name).c_str(), Wide(value).c_str());
}

// Updates until done() or 20 s.
template <typename Done>
bool PumpUntil(Done done) {
    Bench& b = State();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        b.library.mUpdate(nullptr, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Brings the thread's loader into the phase the benchmark measures (once per phase).
bool EnterPhase(int phase) {
    Bench& b = State();
    if (!b.ready)
        return false;
    if (b.phase == phase)
        return true;
    LoaderLibrary& l = b.library;
    if (phase == 3 || phase == 4 || phase == 5) {
        if (b.phase != 0)
            l.mDelete(0);
        l.mCreate(0, nullptr, nullptr, nullptr, 0);
    }
    b.phase = phase;
    if (phase == 3) {
        Setup("voatimeout", "2000000000");
        Setup("voaurl", b.server.Url("/silent"));
        return PumpUntil([&] { return b.server.RequestCount("/silent") >= 1; });
    }
    if (phase == 4) {
        Setup("voaurl", b.server.Url("/stall"));
        return PumpUntil([&] {
            int blocks = 0;
            for (const HttpRequest& request : b.server.Requests("/stall"))
                blocks += request.Header("Range").rfind("bytes=1132-", 0) == 0 ? 1 : 0;
            return blocks >= 1 && l.mProgress() >= 0.1f;
        });
    }
    if (phase == 5) {
        Setup("delay", "-1");
        Setup("voaurl", b.server.Url("/game"));
        return PumpUntil([&] { return l.mProgress() >= 0.4f; });
    }
    // 6: the demo module is ready after 1.5 s of update time; the delay lets it take over.
    Setup("delay", "0");
    for (int i = 0; i < 2000; ++i)
        l.mUpdate(nullptr, 1);
    return true;
}

template <typename Call>
double MedianNs(Call call) {
    constexpr int kBatches = 301;
    constexpr int kPerBatch = 200;
    std::vector<double> samples;
    samples.reserve(kBatches);
    for (int batch = 0; batch < kBatches; ++batch) {
        timespec start, end;
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (int i = 0; i < kPerBatch; ++i)
            call();
        clock_gettime(CLOCK_MONOTONIC, &end);
        samples.push_back((double(end.tv_sec - start.tv_sec) * 1e9 + double(end.tv_nsec - start.tv_nsec)) /
                          kPerBatch);
    }
    std::nth_element(samples.begin(), samples.begin() + kBatches / 2, samples.end());
    return samples[kBatches / 2];
}

// The table row: our median per update beside the empty call's; the goal is the ratio that
// corresponds to the 2 microsecond budget.
void Publish(const std::string& title, double oursNs, double emptyNs) {
    auto& figures = VexalBench::Figures();
    figures.erase(std::remove_if(figures.begin(), figures.end(),
                                 [&](const VexalBench::Figure& f) { return f.title == title; }),
                  figures.end());
    VexalBench::AddFigure(title, oursNs, emptyNs, "ns", VexalBench::LowerIsBetter,
                          emptyNs > 0 ? kBudgetNs / emptyNs : 0);
}

void MeasureState(benchmark::State& state, int phase, const char* title) {
    if (!EnterPhase(phase)) {
        state.SkipWithError("the loader did not reach the state");
        return;
    }
    LoaderLibrary& l = State().library;
    for (auto _ : state)
        benchmark::DoNotOptimize(l.mUpdate(nullptr, 1));
    const double ours = MedianNs([&] { l.mUpdate(nullptr, 1); });
    const double empty = MedianNs([&] { l.mStart(); });
    state.counters["median_ns"] = ours;
    Publish(title, ours, empty);
}

void BM_EmptyExport(benchmark::State& state) {
    LoaderLibrary& l = State().library;
    for (auto _ : state)
        l.mStart();
}

void BM_UpdateHeaderWait(benchmark::State& state) { MeasureState(state, 3, "_VexalUpdate state 3 (header not arriving)"); }
void BM_UpdateBlockDownload(benchmark::State& state) { MeasureState(state, 4, "_VexalUpdate state 4 (block downloading)"); }
void BM_UpdateModuleLoading(benchmark::State& state) { MeasureState(state, 5, "_VexalUpdate state 5 (demo module)"); }
void BM_UpdateRelaying(benchmark::State& state) { MeasureState(state, 6, "_VexalUpdate state 6 (relay)"); }

BENCHMARK(BM_EmptyExport);
BENCHMARK(BM_UpdateHeaderWait);
BENCHMARK(BM_UpdateBlockDownload);
BENCHMARK(BM_UpdateModuleLoading);
BENCHMARK(BM_UpdateRelaying);

} // namespace

int main(int argc, char** argv) {
    const int result = VexalBench::Main(argc, argv);
    Bench& b = State();
    if (b.phase != 0)
        b.library.mDelete(0);
    b.server.Stop();
    return result;
}
