// The loader's two server-data searches over a generated 1 MiB server list, compile plus search,
// against PCRE2's interpreter (no JIT) on the same UTF-16 text and against std::regex (on the
// same text in UTF-8, since std::regex has no UTF-16 traits).
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <regex>
#include <string>
#include <vector>

#include "regex/RegexPattern.h"
#include "support/BenchTable.h"

namespace {

// A server list as the server-data address answers it: one keyed list of eight items per
// server (name, title, id, zone, flag, package address, port, host), newest servers first so
// that the key 12 sits near the end, then the "default" entry.
const std::string& ServerList() {
    static const std::string text = [] {
        std::vector<std::string> entries;
        size_t size = 0;
        for (int key = 1; size < (1u << 20) - 300; ++key) {
            std::string k = std::to_string(key);
            entries.push_back("\"" + k + "\":[\"s" + k + "\",\"Server " + k + "\"," + std::to_string(key % 97) + "," +
                              std::to_string(key % 7) + ",\"new\",\"http://cdn" + std::to_string(key % 5) +
                              ".example.com/pkg/game-" + k + ".vod\"," + std::to_string(8000 + key % 100) + ",\"10.1." +
                              std::to_string(key % 250) + "." + std::to_string(key % 200) + "\"],\n");
            size += entries.back().size();
        }
        std::string list = "{\"servers\":{\n";
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) list += *entry;
        list += "\"updated\":\"2016-06-18\"},\n\"default\":12,\"notice\":\"\"}\n";
        return list;
    }();
    return text;
}

const std::u16string& ServerListWide() {
    static const std::u16string wide(ServerList().begin(), ServerList().end()); // the text is ASCII
    return wide;
}

const char kDefaultPattern[] = "\"default\":\\d+";
const char kListPattern[] = "\"12\":\\[.+?\\]";

std::u16string Widen(const char* text) {
    std::string narrow(text);
    return std::u16string(narrow.begin(), narrow.end());
}

void Ours(benchmark::State& state, const char* pattern) {
    const std::u16string& text = ServerListWide();
    std::u16string wide = Widen(pattern);
    for (auto _ : state) {
        RegexPattern regex(wide.c_str(), FlagNone, int32_t(wide.size()));
        RegexMatch match = regex.Match(text.data(), int32_t(text.size()));
        if (!match.IsMatched()) state.SkipWithError("no match");
        benchmark::DoNotOptimize(match.GetEnd());
    }
}

void Pcre2(benchmark::State& state, const char* pattern) {
    const std::u16string& text = ServerListWide();
    std::u16string wide = Widen(pattern);
    for (auto _ : state) {
        int error;
        PCRE2_SIZE offset;
        pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(wide.data()), wide.size(), 0, &error, &offset, nullptr);
        pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
        int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, data, nullptr);
        if (rc < 0) state.SkipWithError("no match");
        benchmark::DoNotOptimize(pcre2_get_ovector_pointer(data)[1]);
        pcre2_match_data_free(data);
        pcre2_code_free(code);
    }
}

void StdRegex(benchmark::State& state, const char* pattern) {
    const std::string& text = ServerList();
    for (auto _ : state) {
        std::regex regex(pattern);
        std::smatch match;
        if (!std::regex_search(text, match, regex)) state.SkipWithError("no match");
        benchmark::DoNotOptimize(match.position(0));
    }
}

void BM_OursDefault(benchmark::State& state) { Ours(state, kDefaultPattern); }
void BM_Pcre2Default(benchmark::State& state) { Pcre2(state, kDefaultPattern); }
void BM_StdRegexDefault(benchmark::State& state) { StdRegex(state, kDefaultPattern); }
void BM_OursList(benchmark::State& state) { Ours(state, kListPattern); }
void BM_Pcre2List(benchmark::State& state) { Pcre2(state, kListPattern); }
void BM_StdRegexList(benchmark::State& state) { StdRegex(state, kListPattern); }

} // namespace

BENCHMARK(BM_OursDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pcre2Default)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdRegexDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OursList)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pcre2List)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdRegexList)->Unit(benchmark::kMicrosecond);

VEXAL_BENCH_ROW("regex \"default\":\\d+ over 1 MiB vs PCRE2 (no JIT)", "BM_OursDefault", "BM_Pcre2Default", "time",
                VexalBench::LowerIsBetter, 1.5, "ms", 1e-6);
VEXAL_BENCH_ROW("regex \"12\":\\[.+?\\] over 1 MiB vs PCRE2 (no JIT)", "BM_OursList", "BM_Pcre2List", "time",
                VexalBench::LowerIsBetter, 1.5, "ms", 1e-6);
VEXAL_BENCH_ROW("regex \"default\":\\d+ over 1 MiB vs std::regex", "BM_OursDefault", "BM_StdRegexDefault", "time",
                VexalBench::LowerIsBetter, 1.0, "ms", 1e-6);
VEXAL_BENCH_ROW("regex \"12\":\\[.+?\\] over 1 MiB vs std::regex", "BM_OursList", "BM_StdRegexList", "time",
                VexalBench::LowerIsBetter, 1.0, "ms", 1e-6);

VEXAL_BENCH_MAIN();
