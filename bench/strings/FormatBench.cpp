// The engine's formatter against the C library's wide printf on a typical loader log line.
#include <cwchar>
#include "Source/Common/StringFormatter.h"
#include "support/BenchTable.h"

namespace {

const WideChar kUrl[] = u"http://cdn.example.com/vexal/packages/game-2016-06-18/module3.vob";
const wchar_t kWideUrl[] = L"http://cdn.example.com/vexal/packages/game-2016-06-18/module3.vob";

void BM_Format(benchmark::State& state) {
    int32_t block = 0;
    for (auto _ : state) {
        String text = Format(u"[Loader] Download VOB(%d) from url: %ls", block++ & 7, kUrl);
        benchmark::DoNotOptimize(text.Data());
    }
}
BENCHMARK(BM_Format);

void BM_FormatInto(benchmark::State& state) {
    WideChar buffer[1024];
    int32_t block = 0;
    for (auto _ : state) {
        FormatInto(buffer, 1024, u"[Loader] Download VOB(%d) from url: %ls", block++ & 7, kUrl);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_FormatInto);

void BM_SwprintfPeer(benchmark::State& state) {
    wchar_t buffer[1024];
    int block = 0;
    for (auto _ : state) {
        std::swprintf(buffer, 1024, L"[Loader] Download VOB(%d) from url: %ls", block++ & 7, kWideUrl);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_SwprintfPeer);

void BM_FormatFloat(benchmark::State& state) {
    WideChar buffer[256];
    double milliseconds = 0.0;
    for (auto _ : state) {
        FormatInto(buffer, 256, u"  [%ls], %ls, (%ls:%d), cost %3.2f ms", u"Lua", u"render", u"main.lua", 42,
                   milliseconds += 0.37);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_FormatFloat);

void BM_SwprintfFloatPeer(benchmark::State& state) {
    wchar_t buffer[256];
    double milliseconds = 0.0;
    for (auto _ : state) {
        std::swprintf(buffer, 256, L"  [%ls], %ls, (%ls:%d), cost %3.2f ms", L"Lua", L"render", L"main.lua", 42,
                      milliseconds += 0.37);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_SwprintfFloatPeer);

} // namespace

VEXAL_BENCH_ROW("Format \"[Loader] Download VOB(%d) from url: %ls\" vs swprintf", "BM_Format", "BM_SwprintfPeer",
                "time", VexalBench::LowerIsBetter, 1.0, "ns", 1.0);
VEXAL_BENCH_ROW("FormatInto, same line, caller's buffer vs swprintf", "BM_FormatInto", "BM_SwprintfPeer", "time",
                VexalBench::LowerIsBetter, 1.0, "ns", 1.0);
VEXAL_BENCH_ROW("FormatInto \"... cost %3.2f ms\" vs swprintf", "BM_FormatFloat", "BM_SwprintfFloatPeer", "time",
                VexalBench::LowerIsBetter, 1.0, "ns", 1.0);
VEXAL_BENCH_MAIN();
