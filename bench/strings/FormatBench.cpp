// The engine's formatter against the C library's wide printf on a typical loader log line. A call
// takes tens of nanoseconds, so a pass is many calls; passes of ours and of the peer alternate,
// as single runs of each side swung by a third of the margin to the goal on a busy machine.
#include <cwchar>
#include "Source/Common/StringFormatter.h"
#include "support/BenchTable.h"

namespace {

const WideChar kUrl[] = u"http://cdn.example.com/vexal/packages/game-2016-06-18/module3.vob";
const wchar_t kWideUrl[] = L"http://cdn.example.com/vexal/packages/game-2016-06-18/module3.vob";

constexpr int kCallsPerPass = 200000;

// Nanoseconds of processor time per call over one pass.
template <typename Call>
VexalBench::Pass PerCall(Call call) {
    return [call] {
        return VexalBench::CpuSecondsOf([&] {
                   for (int i = 0; i < kCallsPerPass; ++i) call(i);
               }) *
               1e9 / kCallsPerPass;
    };
}

const VexalBench::Pass kFormat = PerCall([](int i) {
    String text = Format(u"[Loader] Download VOB(%d) from url: %ls", i & 7, kUrl);
    benchmark::DoNotOptimize(text.Data());
});

const VexalBench::Pass kFormatInto = PerCall([](int i) {
    WideChar buffer[1024];
    FormatInto(buffer, 1024, u"[Loader] Download VOB(%d) from url: %ls", i & 7, kUrl);
    benchmark::DoNotOptimize(buffer);
});

const VexalBench::Pass kSwprintf = PerCall([](int i) {
    wchar_t buffer[1024];
    std::swprintf(buffer, 1024, L"[Loader] Download VOB(%d) from url: %ls", i & 7, kWideUrl);
    benchmark::DoNotOptimize(buffer);
});

const VexalBench::Pass kFormatFloat = PerCall([](int i) {
    WideChar buffer[256];
    FormatInto(buffer, 256, u"  [%ls], %ls, (%ls:%d), cost %3.2f ms", u"Lua", u"render", u"main.lua", 42, i * 0.37);
    benchmark::DoNotOptimize(buffer);
});

const VexalBench::Pass kSwprintfFloat = PerCall([](int i) {
    wchar_t buffer[256];
    std::swprintf(buffer, 256, L"  [%ls], %ls, (%ls:%d), cost %3.2f ms", L"Lua", L"render", L"main.lua", 42, i * 0.37);
    benchmark::DoNotOptimize(buffer);
});

} // namespace

VEXAL_PAIRED_ROW("Format \"[Loader] Download VOB(%d) from url: %ls\" vs swprintf", kFormat, kSwprintf, 11,
                 VexalBench::LowerIsBetter, 1.0, "ns");
VEXAL_PAIRED_ROW("FormatInto, same line, caller's buffer vs swprintf", kFormatInto, kSwprintf, 11,
                 VexalBench::LowerIsBetter, 1.0, "ns");
VEXAL_PAIRED_ROW("FormatInto \"... cost %3.2f ms\" vs swprintf", kFormatFloat, kSwprintfFloat, 11,
                 VexalBench::LowerIsBetter, 1.0, "ns");
VEXAL_BENCH_MAIN();
