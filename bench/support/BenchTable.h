// Benchmark table: pairs each of our benchmarks with its peer measured in the same run and prints
// the ratio against the goal. Every bench_<area> program uses VEXAL_BENCH_MAIN().
//
// Usage:
//   static void BM_OurDigest(benchmark::State&);   // registered with BENCHMARK(...)
//   static void BM_OpenSslDigest(benchmark::State&);
//   VEXAL_BENCH_ROW("ComputeDigest 256 MiB", "BM_OurDigest", "BM_OpenSslDigest",
//                   "bytes_per_second", VexalBench::HigherIsBetter, 0.95, "MB/s", 1e-6);
//   VEXAL_BENCH_MAIN();
// metric "time" compares the real time per iteration (lower is better: ratio = ours / peer must
// be <= goal); a counter name compares that counter (HigherIsBetter: ratio = ours / peer must be
// >= goal). Benchmark names match exactly or as a prefix before "/" (arguments).
// Figures measured outside Google Benchmark (peak memory, allocation counts, external commands)
// are added with VexalBench::AddFigure from inside a benchmark or from main.
// A row whose passes swing more from run to run than its goal allows is measured interleaved
// instead (VEXAL_PAIRED_ROW): one pass of ours, one of the peer, ours, peer ..., so that a change
// in the machine's load falls on both sides alike; the row shows the medians, the median of the
// pairs' ratios, and their spread (highest ratio less lowest).
// Rows are printed as a table at the end of the program and appended, tab-separated, to the file
// named by the environment variable VEXAL_BENCH_ROWS (./run bench collects them into one table).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace VexalBench {

enum Direction { LowerIsBetter = 0,
                 HigherIsBetter = 1 };

struct Row {
    std::string title;
    std::string ours;
    std::string peer;
    std::string metric;
    Direction direction;
    double goal;
    std::string unit; // unit of the printed figures
    double scale;     // printed figure = measured value * scale (time is measured in ns)
};

struct Figure {
    std::string title;
    double ours;
    double peer;
    std::string unit;
    Direction direction;
    double goal;
    double ratio;     // < 0: ours / peer
    double spread;    // < 0: none measured
    std::string note; // why the row could not be measured; empty: measured
};

// One pass of a paired row's side: returns the pass's figure in the row's unit, or below 0 when
// the pass failed (the row is then not measured).
using Pass = std::function<double()>;

struct PairedRow {
    std::string title;
    Pass ours;
    Pass peer;
    int pairs;
    Direction direction;
    double goal;
    std::string unit;
};

inline std::vector<PairedRow>& PairedRows() {
    static std::vector<PairedRow> rows;
    return rows;
}
inline bool AddPairedRow(const PairedRow& row) {
    PairedRows().push_back(row);
    return true;
}

// Seconds one call of work takes (a pass's figure is then bytes / seconds, or the seconds): wall
// time, or the process's processor time (user and system) for single-threaded work that only
// computes and reads cached files, which a shared machine's other programs then disturb less.
inline double SecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
inline double CpuSecondsOf(const std::function<void()>& work) {
    const std::clock_t start = std::clock();
    work();
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
}
inline std::vector<Figure>& Figures() {
    static std::vector<Figure> figures;
    return figures;
}

inline bool AddRow(const Row& row) {
    Rows().push_back(row);
    return true;
}
// A figure measured by hand: ratio = ours / peer compared with goal in the given direction. Sides
// measured in alternating rounds give the median of the rounds' ratios and their spread.
inline void AddFigure(const std::string& title, double ours, double peer, const std::string& unit,
                      Direction direction, double goal, double ratio = -1, double spread = -1) {
    Figures().push_back({title, ours, peer, unit, direction, goal, ratio, spread, ""});
}
// A row that could not be measured in this run, with the reason the table shows.
inline void AddUnmeasured(const std::string& title, const std::string& unit, Direction direction, double goal,
                          const std::string& reason) {
    Figures().push_back({title, 0, 0, unit, direction, goal, -1, -1, reason});
}

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, benchmark::BenchmarkReporter::Run> mRuns;

    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& run : reports) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") mRuns[run.run_name.str()] = run;
            } else if (!mRuns.count(run.run_name.str()) || mRuns[run.run_name.str()].run_type != Run::RT_Aggregate) {
                mRuns[run.run_name.str()] = run;
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

    const Run* Lookup(const std::string& name) const {
        auto exact = mRuns.find(name);
        if (exact != mRuns.end()) return &exact->second;
        for (const auto& [key, run] : mRuns)
            if (key.compare(0, name.size() + 1, name + "/") == 0) return &run;
        return nullptr;
    }

    bool Value(const std::string& name, const std::string& metric, double& value) const {
        const Run* run = Lookup(name);
        if (!run) return false;
        if (metric == "time") {
            // GetAdjustedRealTime is in the run's time unit; convert to nanoseconds.
            value = run->GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run->time_unit) * 1e9;
            return true;
        }
        auto counter = run->counters.find(metric);
        if (counter == run->counters.end()) return false;
        value = counter->second.value;
        return true;
    }
};

// ratio: ours / peer unless given (a paired row's median of its pairs' ratios); spread < 0: none
// measured (one pass of each side); note: why a row was not measured.
inline void PrintLine(FILE* out, FILE* rows, const std::string& title, double ours, double peer,
                      const std::string& unit, Direction direction, double goal, bool measured, double ratio = -1,
                      double spread = -1, const std::string& note = "") {
    if (ratio < 0) ratio = (measured && peer != 0) ? ours / peer : 0;
    bool met = measured && (direction == HigherIsBetter ? ratio >= goal : ratio <= goal);
    char goalText[32], spreadText[32] = "-";
    std::snprintf(goalText, sizeof goalText, "%s %.2f", direction == HigherIsBetter ? ">=" : "<=", goal);
    if (measured && spread >= 0) std::snprintf(spreadText, sizeof spreadText, "%.3f", spread);
    const std::string verdict = measured ? (met ? "ok" : "MISSED") : note.empty() ? "NOT MEASURED"
                                                                                  : "NOT MEASURED: " + note;
    if (measured) {
        std::fprintf(out, "%-58s %14.3f %14.3f %-8s %8.3f %7s %-9s %s\n", title.c_str(), ours, peer, unit.c_str(),
                     ratio, spreadText, goalText, verdict.c_str());
    } else {
        std::fprintf(out, "%-58s %14s %14s %-8s %8s %7s %-9s %s\n", title.c_str(), "-", "-", unit.c_str(), "-",
                     spreadText, goalText, verdict.c_str());
    }
    if (rows && measured) {
        std::fprintf(rows, "%s\t%.3f\t%.3f\t%s\t%.3f\t%s\t%s\t%s\n", title.c_str(), ours, peer, unit.c_str(), ratio,
                     spreadText, goalText, verdict.c_str());
    } else if (rows) {
        std::fprintf(rows, "%s\t-\t-\t%s\t-\t%s\t%s\t%s\n", title.c_str(), unit.c_str(), spreadText, goalText,
                     verdict.c_str());
    }
}

// Runs a paired row's passes alternately, after one unmeasured pass of each side (caches and
// page cache warm, allocations made), and prints it.
inline void RunPairedRow(FILE* rows, const PairedRow& row) {
    row.ours();
    row.peer();
    std::vector<double> ours, peer, ratios;
    for (int pair = 0; pair < row.pairs; ++pair) {
        ours.push_back(row.ours());
        peer.push_back(row.peer());
        if (ours.back() < 0 || peer.back() < 0) {
            PrintLine(stdout, rows, row.title, 0, 0, row.unit, row.direction, row.goal, false, -1, -1, "a pass failed");
            return;
        }
        ratios.push_back(peer.back() != 0 ? ours.back() / peer.back() : 0);
    }
    double spread = -1;
    if (!ratios.empty()) {
        const auto [lowest, highest] = std::minmax_element(ratios.begin(), ratios.end());
        spread = *highest - *lowest;
    }
    PrintLine(stdout, rows, row.title, Median(ours), Median(peer), row.unit, row.direction, row.goal, !ratios.empty(),
              Median(ratios), spread);
}

inline int Main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const char* rowsPath = std::getenv("VEXAL_BENCH_ROWS");
    FILE* rows = rowsPath && *rowsPath ? std::fopen(rowsPath, "a") : nullptr;
    std::printf("\n%-58s %14s %14s %-8s %8s %7s %-9s %s\n", "benchmark", "ours", "peer", "unit", "ratio", "spread",
                "goal", "");
    for (const Row& row : Rows()) {
        double ours = 0, peer = 0;
        bool measured = reporter.Value(row.ours, row.metric, ours) && reporter.Value(row.peer, row.metric, peer);
        PrintLine(stdout, rows, row.title, ours * row.scale, peer * row.scale, row.unit, row.direction, row.goal,
                  measured);
    }
    for (const PairedRow& row : PairedRows()) RunPairedRow(rows, row);
    for (const Figure& figure : Figures())
        PrintLine(stdout, rows, figure.title, figure.ours, figure.peer, figure.unit, figure.direction, figure.goal,
                  figure.note.empty(), figure.ratio, figure.spread, figure.note);
    if (rows) std::fclose(rows);
    return 0;
}

} // namespace VexalBench

#define VEXAL_BENCH_CONCAT2(a, b) a##b
#define VEXAL_BENCH_CONCAT(a, b)  VEXAL_BENCH_CONCAT2(a, b)
#define VEXAL_BENCH_ROW(title, ours, peer, metric, direction, goal, unit, scale) \
    static bool VEXAL_BENCH_CONCAT(vexalBenchRow, __LINE__) [[maybe_unused]] =   \
        VexalBench::AddRow({title, ours, peer, metric, direction, goal, unit, scale})
#define VEXAL_PAIRED_ROW(title, ours, peer, pairs, direction, goal, unit)       \
    static bool VEXAL_BENCH_CONCAT(vexalPairedRow, __LINE__) [[maybe_unused]] = \
        VexalBench::AddPairedRow({title, ours, peer, pairs, direction, goal, unit})
#define VEXAL_BENCH_MAIN() \
    int main(int argc, char** argv) { return VexalBench::Main(argc, argv); }
