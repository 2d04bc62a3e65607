// A cold and a warm loading run of a package of eight modules (256 MiB unpacked, zlib and LZMA
// mixed) served by nginx on 127.0.0.1, each beside the same work done by standard tools: curl
// fetching the same byte ranges, then vexal-pack unpacking and digesting each block (cold), or
// vexal-pack digesting the files already in place (warm). Also the run's peak memory against
// its budget: the largest block plus twice the largest unpacked module plus 64 MiB. And the runs
// with "voakey" (a signed package) beside the same runs without it. And a warm run of the Windows
// build's host and library under Wine beside the same run of this build's.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Source/Common/PackageFormat.h"
#include "support/BenchTable.h"
#include "support/ChildRun.h"
#include "support/NginxServer.h"
#include "support/ScratchFolder.h"

namespace {

const std::string kTools = VEXAL_TOOL_DIR;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kTotalUnpacked = 256 * kMiB;

using VexalBench::ChildResult;
using VexalBench::RunChild;
using VexalBench::WriteFile;

// Game-like data: runs of structured text between runs of noise (compresses about 2:1).
std::string MakeContent(uint64_t size, uint32_t seed) {
    std::string out;
    out.reserve(size);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    char line[64];
    while (out.size() < size) {
        bool text = (out.size() / 65536) % 2 == 0;
        for (int i = 0; i < 512 && out.size() < size; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            if (text) {
                int n = snprintf(line, sizeof line, "vertex %u %u %u\n", unsigned(x % 1000), unsigned((x >> 20) % 1000),
                                 unsigned((x >> 40) % 1000));
                out.append(line, size_t(n));
            } else {
                out.append(reinterpret_cast<const char*>(&x), 8);
            }
        }
    }
    out.resize(size);
    return out;
}

void RemoveTree(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

// Everything the benchmarks share: the package on disk, its header, the server.
struct Setup {
    bool mReady = false;
    std::string mError;
    ScratchFolder mFolder;
    std::string mRoot = mFolder.Native();
    std::string mPackageUrl;
    std::string mPublicKey;
    PackageHeader mHeader = {};
    std::vector<std::string> mNames;
    uint64_t mLargestBlock = 0;
    uint64_t mLargestModule = 0;
    NginxServer mServer;
    // The Windows build's programs and the same package with its game module for Windows; empty
    // with the reason in mWindowsError when they cannot run here.
    std::string mWindowsFolder;
    std::string mWindowsError;
    std::string mWindowsPackageUrl;

    ~Setup() { mServer.Stop(); }

    bool Prepare() {
        if (!mFolder.IsValid()) return Fail("no temporary folder");
        for (const char* folder : {"/www", "/source", "/nginx"}) mkdir((mRoot + folder).c_str(), 0755);

        // The demo module and seven data modules, 256 MiB unpacked in all; LZMA at a fast level
        // so that building the package stays short, zlib at its default.
        std::string demo = kTools + "/vexal-demo-module.so";
        struct stat info;
        if (stat(demo.c_str(), &info) != 0) return Fail("the demo module is not built");
        const uint64_t sizes[7] = {8 * kMiB, 16 * kMiB, 24 * kMiB, 32 * kMiB, 40 * kMiB, 56 * kMiB,
                                   kTotalUnpacked - 176 * kMiB - uint64_t(info.st_size)};
        std::vector<std::string> build = {kTools + "/vexal-pack", "build", "--out", mRoot + "/www/game.vpk",
                                          "--cache-name", "bench", "--zlib", demo + "=game.so"};
        mNames.push_back("game.so");
        mLargestModule = uint64_t(info.st_size);
        for (int i = 0; i < 7; ++i) {
            std::string name = "data" + std::to_string(i) + ".bin";
            if (!WriteFile(mRoot + "/source/" + name, MakeContent(sizes[i], uint32_t(i + 1))))
                return Fail("cannot write the module files");
            build.push_back(i % 2 ? "--zlib" : "--lzma");
            build.push_back("--level");
            build.push_back(i % 2 ? "6" : "1");
            build.push_back(mRoot + "/source/" + name);
            mNames.push_back(name);
            if (sizes[i] > mLargestModule) mLargestModule = sizes[i];
        }
        ChildResult built = RunChild(build);
        if (!built.mOk) return Fail("vexal-pack build failed");
        mWindowsFolder = VexalBench::WindowsProgramFolder(mWindowsError);
        if (!mWindowsFolder.empty()) {
            // The same data modules behind the Windows build's smallest game module.
            build[3] = mRoot + "/www/game-win32.vpk";
            build[7] = mWindowsFolder + "/ready-module.dll=game.dll";
            if (!RunChild(build).mOk) {
                mWindowsError = "vexal-pack could not build the package for Windows";
                mWindowsFolder.clear();
            }
        }
        FILE* package = fopen((mRoot + "/www/game.vpk").c_str(), "rb");
        uint8_t bytes[VEXAL_HEADER_SIZE];
        size_t read = package ? fread(bytes, 1, sizeof bytes, package) : 0;
        if (package) fclose(package);
        if (read != sizeof bytes || !ReadPackageHeader(bytes, uint32_t(read), mHeader))
            return Fail("cannot read the package header");
        for (const ModuleEntry& entry : mHeader.modules)
            if (entry.size > mLargestBlock) mLargestBlock = entry.size;
        std::string error;
        // The publisher's key and signature file, for the runs with "voakey".
        if (!RunChild({kTools + "/vexal-pack", "keygen", "--out", mRoot + "/publisher"}).mOk ||
            !RunChild({kTools + "/vexal-pack", "sign", mRoot + "/www/game.vpk", "--key", mRoot + "/publisher.key",
                       "--release", "1"})
                 .mOk)
            return Fail("vexal-pack keygen or sign failed");
        FILE* publicKey = fopen((mRoot + "/publisher.pub").c_str(), "rb");
        char keyText[128] = {};
        if (publicKey == nullptr || fgets(keyText, sizeof keyText, publicKey) == nullptr) {
            if (publicKey) fclose(publicKey);
            return Fail("cannot read the public key");
        }
        fclose(publicKey);
        mPublicKey = keyText;
        while (!mPublicKey.empty() && (mPublicKey.back() == '\n' || mPublicKey.back() == '\r')) mPublicKey.pop_back();
        if (!mServer.Start(mRoot + "/www", mRoot + "/nginx", error)) return Fail("nginx: " + error);
        mPackageUrl = mServer.Url("/game.vpk");
        mWindowsPackageUrl = mServer.Url("/game-win32.vpk");
        mReady = true;
        return true;
    }

    bool Fail(const std::string& reason) {
        mError = reason;
        return false;
    }

    // A loading run into cache; the time until the game module took over. signed: with "voakey",
    // so the signature file is fetched and every module file is held to its SHA-256 as well.
    ChildResult LoaderRun(const std::string& cache, bool withKey = false) {
        std::vector<std::string> argv = {kTools + "/vexal-host", "--headless", "--until-ready", "--fps", "1000",
                                         "--seconds", "600", "--cwd", cache};
        if (withKey) {
            argv.push_back("voakey=" + mPublicKey);
            argv.push_back("voagame=bench");
        }
        argv.push_back("voaurl=" + mPackageUrl);
        return RunChild(argv, "ready after ", {"VEXAL_DEMO_LOAD_MS=0", "HOME=" + mRoot});
    }

    // The same run of the Windows build's host under Wine (its drive Z: is the root folder), with
    // the Windows package; Wine's own start is part of the run, as the host process's is above.
    ChildResult WindowsRun(const std::string& cache) {
        std::string folder = "Z:" + cache;
        std::replace(folder.begin(), folder.end(), '/', '\\');
        return RunChild({"timeout", "900", "wine", mWindowsFolder + "/vexal-host.exe", "--headless", "--until-ready",
                         "--fps", "1000", "--seconds", "600", "--cwd", folder, "voaurl=" + mWindowsPackageUrl},
                        "ready after ");
    }
};

Setup& Shared() {
    static Setup setup;
    static bool prepared = false;
    if (!prepared) {
        prepared = true;
        if (!setup.Prepare()) fprintf(stderr, "loader-run: %s\n", setup.mError.c_str());
    }
    return setup;
}

// The machine's load drifts while these long runs last, so ours and the peer's runs alternate,
// round by round, and each side reports its median round; the row's ratio is the median of the
// rounds' ratios, shown with their spread.
struct Pairing {
    bool mOk = false;
    std::string mError;
    double mOurs = 0.0;
    double mPeer = 0.0;
    double mRatio = 0.0;
    double mSpread = 0.0;
};

using VexalBench::Median;

long gColdPeakKiB = 0;

// One cold peer round: curl fetches the header range and each block's range, vexal-pack unpacks
// and digests each block. Seconds, or below 0 on a failure.
double PeerColdRound(Setup& setup) {
    std::string folder = setup.mRoot + "/peer";
    RemoveTree(folder);
    mkdir(folder.c_str(), 0755);
    ChildResult header = RunChild({"curl", "-sf", "-r", "0-1131", "-o", folder + "/header", setup.mPackageUrl});
    if (!header.mOk) return -1.0;
    double seconds = header.mSeconds;
    for (size_t i = 0; i < setup.mNames.size(); ++i) {
        const ModuleEntry& entry = setup.mHeader.modules[i];
        std::string block = folder + "/block" + std::to_string(i);
        std::string file = folder + "/" + setup.mNames[i];
        std::string range = std::to_string(entry.offset) + "-" + std::to_string(uint64_t(entry.offset) + entry.size - 1);
        ChildResult fetch = RunChild({"curl", "-sf", "-r", range, "-o", block, setup.mPackageUrl});
        ChildResult unpack = RunChild({kTools + "/vexal-pack", "unpack", block, file});
        ChildResult digest = RunChild({kTools + "/vexal-pack", "digest", file});
        if (!fetch.mOk || !unpack.mOk || !digest.mOk) return -1.0;
        seconds += fetch.mSeconds + unpack.mSeconds + digest.mSeconds;
        unlink(block.c_str());
    }
    RemoveTree(folder);
    return seconds;
}

// Measures a pairing: each of the rounds adds one time to each side, or says why it failed.
template <typename Round>
Pairing MeasurePairing(int rounds, Round round) {
    Pairing pairing;
    Setup& setup = Shared();
    if (!setup.mReady) {
        pairing.mError = setup.mError;
        return pairing;
    }
    std::vector<double> ours, peer;
    for (int i = 0; i < rounds; ++i) {
        pairing.mError = round(setup, ours, peer);
        if (!pairing.mError.empty()) return pairing;
    }
    pairing.mOurs = Median(ours);
    pairing.mPeer = Median(peer);
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < peer.size(); ++i) ratios.push_back(peer[i] > 0 ? ours[i] / peer[i] : 0);
    pairing.mRatio = Median(ratios);
    if (!ratios.empty()) pairing.mSpread = *std::max_element(ratios.begin(), ratios.end()) -
                                           *std::min_element(ratios.begin(), ratios.end());
    pairing.mOk = true;
    return pairing;
}

const char kNoHandOff[] = "the loading run did not reach the hand-off";

const Pairing& ColdPairing() {
    static const Pairing pairing =
        MeasurePairing(3, [](Setup& setup, std::vector<double>& ours, std::vector<double>& peer) -> std::string {
            std::string cache = setup.mRoot + "/cache";
            RemoveTree(cache);
            ChildResult run = setup.LoaderRun(cache);
            if (!run.mOk) return kNoHandOff;
            gColdPeakKiB = std::max(gColdPeakKiB, run.mPeakKiB);
            ours.push_back(run.mSeconds);
            double seconds = PeerColdRound(setup);
            if (seconds < 0) return "curl or vexal-pack failed";
            peer.push_back(seconds);
            return "";
        });
    return pairing;
}

const Pairing& WarmPairing() {
    bool warmedUp = false;
    static const Pairing pairing = MeasurePairing(
        5, [&](Setup& setup, std::vector<double>& ours, std::vector<double>& peer) -> std::string {
            std::string cache = setup.mRoot + "/cache";
            // The first run completes the cache (when the cold runs did not) and warms the page
            // cache.
            if (!warmedUp && !setup.LoaderRun(cache).mOk) return kNoHandOff;
            warmedUp = true;
            std::vector<std::string> digest = {kTools + "/vexal-pack", "digest"};
            for (const std::string& name : setup.mNames) digest.push_back(cache + "/" + name);
            ChildResult run = setup.LoaderRun(cache);
            ChildResult check = RunChild(digest);
            if (!run.mOk) return kNoHandOff;
            if (!check.mOk) return "vexal-pack digest failed";
            ours.push_back(run.mSeconds);
            peer.push_back(check.mSeconds);
            return "";
        });
    return pairing;
}

// Signed against unsigned runs, alternating round by round: the cost of "voakey".
const Pairing& SignedColdPairing() {
    static const Pairing pairing =
        MeasurePairing(3, [](Setup& setup, std::vector<double>& ours, std::vector<double>& peer) -> std::string {
            std::string cache = setup.mRoot + "/cache";
            for (bool withKey : {true, false}) {
                RemoveTree(cache);
                ChildResult run = setup.LoaderRun(cache, withKey);
                if (!run.mOk) return kNoHandOff;
                (withKey ? ours : peer).push_back(run.mSeconds);
            }
            return "";
        });
    return pairing;
}

const Pairing& SignedWarmPairing() {
    bool warmedUp = false;
    static const Pairing pairing = MeasurePairing(
        5, [&](Setup& setup, std::vector<double>& ours, std::vector<double>& peer) -> std::string {
            std::string cache = setup.mRoot + "/cache";
            if (!warmedUp && !setup.LoaderRun(cache).mOk) return kNoHandOff;
            warmedUp = true;
            for (bool withKey : {true, false}) {
                ChildResult run = setup.LoaderRun(cache, withKey);
                if (!run.mOk) return kNoHandOff;
                (withKey ? ours : peer).push_back(run.mSeconds);
            }
            return "";
        });
    return pairing;
}

// The Windows build under Wine against this build, warm runs alternating; the first run of each
// fills its cache.
const Pairing& WinePairing() {
    bool warmedUp = false;
    static const Pairing pairing = MeasurePairing(
        7, [&](Setup& setup, std::vector<double>& ours, std::vector<double>& peer) -> std::string {
            if (setup.mWindowsFolder.empty()) return setup.mWindowsError;
            const std::string linuxCache = setup.mRoot + "/cache";
            const std::string windowsCache = setup.mRoot + "/cache-win32";
            if (!warmedUp) {
                mkdir(windowsCache.c_str(), 0755);
                if (!setup.WindowsRun(windowsCache).mOk) return "the run under Wine did not reach the hand-off";
                if (!setup.LoaderRun(linuxCache).mOk) return kNoHandOff;
            }
            warmedUp = true;
            ChildResult windowsRun = setup.WindowsRun(windowsCache);
            ChildResult linuxRun = setup.LoaderRun(linuxCache);
            if (!windowsRun.mOk) return "the run under Wine did not reach the hand-off";
            if (!linuxRun.mOk) return kNoHandOff;
            ours.push_back(windowsRun.mSeconds);
            peer.push_back(linuxRun.mSeconds);
            return "";
        });
    return pairing;
}

// Reports one side of a pairing as this benchmark's time; our side also adds the table's row (in
// ms, lower is better), unless the pairing failed.
void Report(benchmark::State& state, const Pairing& pairing, bool ours, const char* row = nullptr,
            double goal = 0) {
    if (!pairing.mOk) {
        state.SkipWithError(pairing.mError.c_str());
        return;
    }
    for (auto _ : state) state.SetIterationTime(ours ? pairing.mOurs : pairing.mPeer);
    state.SetBytesProcessed(int64_t(state.iterations() * kTotalUnpacked));
    if (row != nullptr)
        VexalBench::AddFigure(row, pairing.mOurs * 1e3, pairing.mPeer * 1e3, "ms", VexalBench::LowerIsBetter, goal,
                              pairing.mRatio, pairing.mSpread);
}

void BM_LoaderColdRun(benchmark::State& state) {
    Report(state, ColdPairing(), true, "Cold run 256 MiB in 8 modules from nginx vs curl+unpack+digest", 1.2);
}
void BM_CurlUnpackDigest(benchmark::State& state) { Report(state, ColdPairing(), false); }
void BM_LoaderWarmRun(benchmark::State& state) {
    Report(state, WarmPairing(), true, "Warm run 256 MiB in 8 modules vs vexal-pack digest", 1.1);
}
void BM_DigestFiles(benchmark::State& state) { Report(state, WarmPairing(), false); }

void BM_SignedColdRun(benchmark::State& state) {
    Report(state, SignedColdPairing(), true, "Cold run 256 MiB with voakey vs without", 1.05);
}
void BM_UnsignedColdRun(benchmark::State& state) { Report(state, SignedColdPairing(), false); }
void BM_SignedWarmRun(benchmark::State& state) {
    Report(state, SignedWarmPairing(), true, "Warm run 256 MiB with voakey vs without", 1.2);
}
void BM_UnsignedWarmRun(benchmark::State& state) { Report(state, SignedWarmPairing(), false); }

void BM_WineWarmRun(benchmark::State& state) {
    const char row[] = "Warm run 256 MiB in 8 modules under Wine: DLL vs Linux library";
    const Pairing& pairing = WinePairing();
    // Wine's start is part of each run, and Wine maps the library's system calls onto Linux ones.
    const double goal = 2.5;
    if (!pairing.mOk) VexalBench::AddUnmeasured(row, "ms", VexalBench::LowerIsBetter, goal, pairing.mError);
    Report(state, pairing, true, row, goal);
}
void BM_LinuxWarmRun(benchmark::State& state) { Report(state, WinePairing(), false); }

void BM_ColdRunPeakMemory(benchmark::State& state) {
    Setup& setup = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(gColdPeakKiB);
    if (!setup.mReady || gColdPeakKiB == 0) return;
    double budget = double(setup.mLargestBlock + 2 * setup.mLargestModule + 64 * kMiB) / double(kMiB);
    VexalBench::AddFigure("Cold run peak memory vs budget (block + 2 modules + 64)", double(gColdPeakKiB) / 1024.0,
                          budget, "MiB", VexalBench::LowerIsBetter, 1.0);
}

} // namespace

BENCHMARK(BM_LoaderColdRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlUnpackDigest)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoaderWarmRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DigestFiles)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignedColdRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnsignedColdRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignedWarmRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnsignedWarmRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WineWarmRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinuxWarmRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColdRunPeakMemory)->Iterations(1);

VEXAL_BENCH_MAIN();
