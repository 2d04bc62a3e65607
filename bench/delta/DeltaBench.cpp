// Updates by patch, each figure beside its peer in the same run:
//  - bytes a player fetches for a new release of a file: our patch (vexal-pack delta's default
//    level) against the LZMA block of the package (the package tool's default level), on
//    consecutive releases of large binaries from Debian's archive (fetched into the build
//    folder; a pair the archive does not offer is skipped with its reason) and on a synthetic
//    asset with small changes spread through it;
//  - the rate of applying a patch (read the old file, rebuild, write the new one) against the
//    zstd tool applying the same patch;
//  - a warm update run (one module changed) from nginx limited to 4 MB/s, with the delta file
//    against without it.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/DeltaFile.h"
#include "support/BenchTable.h"
#include "support/ChildRun.h"
#include "support/NginxServer.h"
#include "support/ScratchFolder.h"

namespace {

const std::string kTools = VEXAL_TOOL_DIR;
const std::string kReleases = VEXAL_RELEASES_DIR;
constexpr uint64_t kMiB = 1024 * 1024;

// User and system time of every thread of this process so far.
double ProcessorSeconds() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char chunk[1 << 16];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

using VexalBench::Median;
using VexalBench::Now;
using VexalBench::RunChild;
using VexalBench::WriteFile;

// A game asset: runs of structured text between runs of noise (compresses about 2:1).
std::string MakeAsset(uint64_t size, uint32_t seed) {
    std::string out;
    out.reserve(size);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    char line[64];
    while (out.size() < size) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        if ((out.size() / 65536) % 2 == 0) {
            int n = snprintf(line, sizeof line, "vertex %llu %llu %llu\n", (unsigned long long)(x % 4096),
                             (unsigned long long)(x >> 20) % 4096, (unsigned long long)(x >> 40) % 4096);
            out.append(line, size_t(n));
        } else {
            for (int i = 0; i < 8; ++i) out.push_back(char(x >> (8 * i)));
        }
    }
    out.resize(size);
    return out;
}

// The next release of an asset: 32 edits of 512 bytes spread evenly through it and 64 KiB
// inserted in the middle, as a rebuilt level would change.
std::string ChangeAsset(const std::string& asset) {
    std::string next = asset;
    const std::string edit = MakeAsset(512, 99);
    for (int i = 1; i <= 32; ++i) next.replace(next.size() * size_t(i) / 34, edit.size(), edit);
    next.insert(next.size() / 2, MakeAsset(64 * 1024, 77));
    return next;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

// One release pair's sizes: the patch at the default level, and the block.
struct PairSizes {
    std::string mError;
    double mPatch = 0;
    double mBlock = 0;
};

const PairSizes& SizesOf(const std::string& name) {
    static std::map<std::string, PairSizes> measured;
    auto found = measured.find(name);
    if (found != measured.end()) return found->second;
    PairSizes& sizes = measured[name];
    std::string older, newer;
    if (name == "asset") {
        older = MakeAsset(24 * kMiB, 1);
        newer = ChangeAsset(older);
    } else {
        static const bool fetched = std::system(("'" + std::string(VEXAL_FETCH_RELEASES) + "' '" + kReleases + "'").c_str()) == 0;
        (void)fetched;
        older = ReadFile(kReleases + "/" + name + ".old");
        newer = ReadFile(kReleases + "/" + name + ".new");
        if (older.empty() || newer.empty()) {
            std::string reason = ReadFile(kReleases + "/" + name + ".reason");
            while (!reason.empty() && reason.back() == '\n') reason.pop_back();
            sizes.mError = "skipped: " + (reason.empty() ? std::string("the releases could not be fetched") : reason);
            return sizes;
        }
    }
    Buffer patch, block;
    const double start = ProcessorSeconds();
    const bool made =
        MakePatch(Bytes(older), uint32_t(older.size()), Bytes(newer), uint32_t(newer.size()), kDefaultPatchLevel, patch);
    // The default level must keep the publisher's work on a 26 MB program within a minute. The
    // processor time (every thread's) is what an idle machine would take at most: on a shared
    // one the wall-clock time says more about the others' work.
    if (made && name == "database")
        VexalBench::AddFigure("Making the mariadbd patch (26 MB) at the default level, processor time vs a minute",
                              ProcessorSeconds() - start, 60.0, "s", VexalBench::LowerIsBetter, 1.0);
    if (!made ||
        !PackBuffer(kPackLzma, -1, newer.data(), uint32_t(newer.size()), block)) {
        sizes.mError = "the patch or the block could not be made";
        return sizes;
    }
    sizes.mPatch = patch.GetSize();
    sizes.mBlock = block.GetSize();
    return sizes;
}

void ReportSize(benchmark::State& state, const std::string& name, bool patch) {
    const PairSizes& sizes = SizesOf(name);
    for (auto _ : state) benchmark::DoNotOptimize(sizes.mPatch);
    if (!sizes.mError.empty()) {
        state.SkipWithError(sizes.mError.c_str());
        return;
    }
    state.counters["bytes"] = patch ? sizes.mPatch : sizes.mBlock;
}

void BM_PatchBytes(benchmark::State& state, const char* name) { ReportSize(state, name, true); }
void BM_LzmaBlockBytes(benchmark::State& state, const char* name) { ReportSize(state, name, false); }

// Applying: the old file and the patch on disk, the new file written; ours through ApplyPatch,
// the peer through "zstd -d --patch-from". Medians of five rounds, alternating.
struct ApplyPairing {
    std::string mError;
    double mOurs = 0;
    double mPeer = 0;
    double mBytes = 0;
};

const ApplyPairing& ApplyMeasured() {
    static ApplyPairing pairing;
    static bool done = false;
    if (done) return pairing;
    done = true;
    static ScratchFolder folder;
    const std::string root = folder.Native();
    const std::string older = MakeAsset(24 * kMiB, 1);
    const std::string newer = ChangeAsset(older);
    Buffer patch;
    if (!MakePatch(Bytes(older), uint32_t(older.size()), Bytes(newer), uint32_t(newer.size()), kDefaultPatchLevel, patch) ||
        !WriteFile(root + "/old", older) ||
        !WriteFile(root + "/patch", std::string(reinterpret_cast<const char*>(patch.GetData()), patch.GetSize()))) {
        pairing.mError = "the patch could not be made";
        return pairing;
    }
    std::vector<double> ours, peer;
    for (int round = 0; round < 5; ++round) {
        double start = Now();
        const std::string reference = ReadFile(root + "/old");
        const std::string patchBytes = ReadFile(root + "/patch");
        Buffer rebuilt;
        if (!ApplyPatch(Bytes(reference), uint32_t(reference.size()), Bytes(patchBytes), uint32_t(patchBytes.size()),
                        uint32_t(newer.size()), rebuilt) ||
            !WriteFile(root + "/ours", std::string(reinterpret_cast<const char*>(rebuilt.GetData()), rebuilt.GetSize()))) {
            pairing.mError = "ApplyPatch failed";
            return pairing;
        }
        ours.push_back(Now() - start);
        const VexalBench::ChildResult zstd = RunChild(
            {"zstd", "-q", "-f", "-d", "--long=31", "--patch-from=" + root + "/old", root + "/patch", "-o", root + "/peer"});
        if (!zstd.mOk) {
            pairing.mError = "the zstd tool is missing or failed";
            return pairing;
        }
        peer.push_back(zstd.mSeconds);
    }
    if (ReadFile(root + "/peer") != newer) {
        pairing.mError = "the zstd tool rebuilt other bytes";
        return pairing;
    }
    pairing.mOurs = Median(ours);
    pairing.mPeer = Median(peer);
    pairing.mBytes = double(newer.size());
    return pairing;
}

void ReportApply(benchmark::State& state, bool ours) {
    const ApplyPairing& pairing = ApplyMeasured();
    if (!pairing.mError.empty()) {
        state.SkipWithError(pairing.mError.c_str());
        return;
    }
    for (auto _ : state) state.SetIterationTime(ours ? pairing.mOurs : pairing.mPeer);
    state.SetBytesProcessed(int64_t(state.iterations() * pairing.mBytes));
}

void BM_ApplyPatch(benchmark::State& state) { ReportApply(state, true); }
void BM_ZstdToolApply(benchmark::State& state) { ReportApply(state, false); }

// A warm update run: the cache holds release 1 (the demo module and a 24 MiB asset), the
// server release 2 with the asset changed; nginx sends at most 4 MB/s. With the delta file the
// loader fetches the patch; without it (another folder), the block.
const ApplyPairing& UpdateMeasured() {
    static ApplyPairing pairing;
    static bool done = false;
    if (done) return pairing;
    done = true;
    static ScratchFolder folder;
    static NginxServer server;
    const std::string root = folder.Native();
    for (const char* sub : {"/www", "/www/with", "/www/without", "/nginx", "/cache", "/home"})
        mkdir((root + sub).c_str(), 0755);
    const std::string demo = kTools + "/vexal-demo-module.so";
    const std::string older = MakeAsset(24 * kMiB, 1);
    const std::string newer = ChangeAsset(older);
    auto build = [&](const std::string& out, const std::string& asset) {
        return RunChild({kTools + "/vexal-pack", "build", "--out", out, "--cache-name", "bench", "--zlib",
                         demo + "=game.so", "--lzma", asset + "=data.bin"})
            .mOk;
    };
    if (!WriteFile(root + "/asset1", older) || !WriteFile(root + "/asset2", newer) || !build(root + "/release1.vpk", root + "/asset1") ||
        !build(root + "/www/with/game.vpk", root + "/asset2") ||
        !RunChild({kTools + "/vexal-pack", "delta", root + "/www/with/game.vpk", "--from", root + "/release1.vpk"}).mOk ||
        !RunChild({"cp", root + "/www/with/game.vpk", root + "/www/without/game.vpk"}).mOk) {
        pairing.mError = "vexal-pack could not build the releases";
        return pairing;
    }
    std::string error;
    server.LimitRate(4 * 1000 * 1000);
    if (!server.Start(root + "/www", root + "/nginx", error)) {
        pairing.mError = "nginx: " + error;
        return pairing;
    }
    const std::string module = ReadFile(demo);
    std::vector<double> ours, peer;
    for (int round = 0; round < 3; ++round) {
        for (bool withDelta : {true, false}) {
            if (!WriteFile(root + "/cache/game.so", module) || !WriteFile(root + "/cache/data.bin", older)) {
                pairing.mError = "cannot prepare the cache";
                return pairing;
            }
            const std::string url = server.Url(withDelta ? "/with/game.vpk" : "/without/game.vpk");
            const VexalBench::ChildResult run =
                RunChild({kTools + "/vexal-host", "--headless", "--until-ready", "--fps", "1000", "--seconds", "120",
                          "--cwd", root + "/cache", "voaurl=" + url},
                         "ready after ", {"VEXAL_DEMO_LOAD_MS=0", "HOME=" + root + "/home"});
            if (!run.mOk || ReadFile(root + "/cache/data.bin") != newer) {
                pairing.mError = "the update run did not reach the hand-off with release 2";
                return pairing;
            }
            (withDelta ? ours : peer).push_back(run.mSeconds);
        }
    }
    server.Stop();
    pairing.mOurs = Median(ours);
    pairing.mPeer = Median(peer);
    return pairing;
}

void ReportUpdate(benchmark::State& state, bool ours) {
    const ApplyPairing& pairing = UpdateMeasured();
    if (!pairing.mError.empty()) {
        state.SkipWithError(pairing.mError.c_str());
        return;
    }
    for (auto _ : state) state.SetIterationTime(ours ? pairing.mOurs : pairing.mPeer);
}

void BM_UpdateRunWithDelta(benchmark::State& state) { ReportUpdate(state, true); }
void BM_UpdateRunWithoutDelta(benchmark::State& state) { ReportUpdate(state, false); }

} // namespace

BENCHMARK_CAPTURE(BM_PatchBytes, crypto, "crypto")->Iterations(1);
BENCHMARK_CAPTURE(BM_LzmaBlockBytes, crypto, "crypto")->Iterations(1);
BENCHMARK_CAPTURE(BM_PatchBytes, libc, "libc")->Iterations(1);
BENCHMARK_CAPTURE(BM_LzmaBlockBytes, libc, "libc")->Iterations(1);
BENCHMARK_CAPTURE(BM_PatchBytes, database, "database")->Iterations(1);
BENCHMARK_CAPTURE(BM_LzmaBlockBytes, database, "database")->Iterations(1);
BENCHMARK_CAPTURE(BM_PatchBytes, asset, "asset")->Iterations(1);
BENCHMARK_CAPTURE(BM_LzmaBlockBytes, asset, "asset")->Iterations(1);
BENCHMARK(BM_ApplyPatch)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZstdToolApply)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateRunWithDelta)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateRunWithoutDelta)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

VEXAL_BENCH_ROW("Update bytes, libcrypto (libssl3 release pair): patch vs LZMA block", "BM_PatchBytes/crypto",
                "BM_LzmaBlockBytes/crypto", "bytes", VexalBench::LowerIsBetter, 0.35, "bytes", 1.0);
VEXAL_BENCH_ROW("Update bytes, libc.so.6 (libc6 release pair): patch vs LZMA block", "BM_PatchBytes/libc",
                "BM_LzmaBlockBytes/libc", "bytes", VexalBench::LowerIsBetter, 0.35, "bytes", 1.0);
VEXAL_BENCH_ROW("Update bytes, mariadbd (release pair): patch vs LZMA block", "BM_PatchBytes/database",
                "BM_LzmaBlockBytes/database", "bytes", VexalBench::LowerIsBetter, 0.35, "bytes", 1.0);
VEXAL_BENCH_ROW("Update bytes, 24 MiB asset, 33 small changes: patch vs LZMA block", "BM_PatchBytes/asset",
                "BM_LzmaBlockBytes/asset", "bytes", VexalBench::LowerIsBetter, 0.01, "bytes", 1.0);
VEXAL_BENCH_ROW("Patch application 24 MiB vs the zstd tool", "BM_ApplyPatch", "BM_ZstdToolApply",
                "bytes_per_second", VexalBench::HigherIsBetter, 0.9, "MB/s", 1e-6);
VEXAL_BENCH_ROW("Warm update run from nginx at 4 MB/s, with vs without delta file", "BM_UpdateRunWithDelta",
                "BM_UpdateRunWithoutDelta", "time", VexalBench::LowerIsBetter, 0.4, "ms", 1e-6);

VEXAL_BENCH_MAIN();
