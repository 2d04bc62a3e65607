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
// Rows are printed as a table at the end of the program and appended, tab-separated, to the file
// named by the environment variable VEXAL_BENCH_ROWS (./run bench collects them into one table).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
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
};

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
// A figure measured by hand: ratio = ours / peer compared with goal in the given direction.
inline void AddFigure(const std::string& title, double ours, double peer, const std::string& unit,
                      Direction direction, double goal) {
    Figures().push_back({title, ours, peer, unit, direction, goal});
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

inline void PrintLine(FILE* out, FILE* rows, const std::string& title, double ours, double peer,
                      const std::string& unit, Direction direction, double goal, bool measured) {
    double ratio = (measured && peer != 0) ? ours / peer : 0;
    bool met = measured && (direction == HigherIsBetter ? ratio >= goal : ratio <= goal);
    char goalText[32];
    std::snprintf(goalText, sizeof goalText, "%s %.2f", direction == HigherIsBetter ? ">=" : "<=", goal);
    if (measured) {
        std::fprintf(out, "%-58s %14.3f %14.3f %-8s %8.3f %-9s %s\n", title.c_str(), ours, peer, unit.c_str(),
                     ratio, goalText, met ? "ok" : "MISSED");
    } else {
        std::fprintf(out, "%-58s %14s %14s %-8s %8s %-9s %s\n", title.c_str(), "-", "-", unit.c_str(), "-",
                     goalText, "NOT MEASURED");
    }
    if (rows) {
        std::fprintf(rows, "%s\t%.3f\t%.3f\t%s\t%.3f\t%s\t%s\n", title.c_str(), ours, peer, unit.c_str(), ratio,
                     goalText, measured ? (met ? "ok" : "MISSED") : "NOT MEASURED");
    }
}

inline int Main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const char* rowsPath = std::getenv("VEXAL_BENCH_ROWS");
    FILE* rows = rowsPath && *rowsPath ? std::fopen(rowsPath, "a") : nullptr;
    std::printf("\n%-58s %14s %14s %-8s %8s %-9s %s\n", "benchmark", "ours", "peer", "unit", "ratio", "goal", "");
    for (const Row& row : Rows()) {
        double ours = 0, peer = 0;
        bool measured = reporter.Value(row.ours, row.metric, ours) && reporter.Value(row.peer, row.metric, peer);
        PrintLine(stdout, rows, row.title, ours * row.scale, peer * row.scale, row.unit, row.direction, row.goal,
                  measured);
    }
    for (const Figure& figure : Figures())
        PrintLine(stdout, rows, figure.title, figure.ours, figure.peer, figure.unit, figure.direction, figure.goal,
                  true);
    if (rows) std::fclose(rows);
    return 0;
}

} // namespace VexalBench

#define VEXAL_BENCH_CONCAT2(a, b) a##b
#define VEXAL_BENCH_CONCAT(a, b)  VEXAL_BENCH_CONCAT2(a, b)
#define VEXAL_BENCH_ROW(title, ours, peer, metric, direction, goal, unit, scale) \
    static bool VEXAL_BENCH_CONCAT(vexalBenchRow, __LINE__) [[maybe_unused]] =   \
        VexalBench::AddRow({title, ours, peer, metric, direction, goal, unit, scale})
#define VEXAL_BENCH_MAIN() \
    int main(int argc, char** argv) { return VexalBench::Main(argc, argv); }
