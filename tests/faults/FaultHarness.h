// Whole runs of vexal-host with the real loader library against the tests' own HTTP server, and
// the checks every faulty run must pass: the host ends normally, no single update held its
// thread beyond the bound, nothing outside the cache folder changed and the files that were
// intact before are intact after.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Source/Common/PackageBuilder.h"
#include "support/BackgroundProgram.h"
#include "support/HttpTestServer.h"
#include "support/ScratchFolder.h"

// The longest single _VexalUpdate a faulty run may take. The loader blocks its host only in the
// steps it names (digests of cached files, unpacking and writing a block, loading and creating the
// module); on a loaded two-core machine that stays well below this, while a hang (a five-second
// connection wait, a search that never ends) goes beyond it.
constexpr double kLongestUpdateBoundMs = 4000.0;
// The longest update outside those steps, as the loader measures it: transfers and probes run
// beside the host's thread and stopping them does not wait, so only a held thread (a stop that
// waits for libcurl, a probe on the host's thread) comes anywhere near this. The figures
// themselves are printed, not judged.
constexpr double kLongestOutsideBoundMs = 500.0;

// One module of a test package.
struct FaultModule {
    std::string mName;
    std::string mContent;
    PackMethod mMethod = kPackZlib;
    bool mPlain = false;
};

// A package built in memory: the recording game module first ("game.so"), then the modules given.
struct FaultPackage {
    std::string mBytes;
    PackageHeader mHeader{};
    std::map<std::string, std::string> mFiles; // name -> content every file must end up with

    // The byte range [first, last] of entry index's block in the package.
    uint32_t BlockStart(int index) const { return mHeader.modules[index].offset; }
    uint32_t BlockEnd(int index) const { return mHeader.modules[index].offset + mHeader.modules[index].size; }
};

// Deterministic contents that do not compress (noise) or do (text).
std::string NoiseBytes(size_t size, uint32_t seed);
std::string TextBytes(size_t size);

// Builds a package of the recording module and the given modules; adjust may change the header
// before it is written (a hostile package).
FaultPackage MakeFaultPackage(const std::vector<FaultModule>& modules,
                              void (*adjust)(PackageHeader&) = nullptr);

// What one host run left behind.
struct HostResult {
    int mStatus = -1;    // exit status; -1 when killed or not started
    std::string mOutput; // standard output and error (the log lines are on it)
    double mLongestUpdateMs = -1.0;
    // The longest update outside the blocking steps, from the loader's own trace line.
    double mLongestOutsideMs = -1.0;
    int Count(const std::string& text) const;
    bool Contains(const std::string& text) const { return Count(text) > 0; }
};

// A host process running in the background.
class HostProcess {
public:
    // Starts the command with its output going to outputPath.
    bool Start(const ProgramLine& command, const std::string& outputPath);
    // Waits up to timeoutSeconds, then kills it (a hang); returns what it printed.
    HostResult Wait(int timeoutSeconds);

private:
    BackgroundProgram mProgram;
    std::string mOutputPath;
};

// A file tree's state: path -> size, modification time and content digest text.
typedef std::map<std::string, std::string> TreeState;
// Every entry below root (recursively), except the subfolder named skip.
TreeState SnapshotTree(const std::string& root, const std::string& skip = "");

class FaultRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The command of a host run: "[VEXAL-DEBUG]=YES" (log on the console), the profile folder in
    // the scratch folder, headless, the cache folder (or folder) as current directory. With
    // untilReady the host ends half a second after the hand-off, and at the latest after seconds.
    ProgramLine HostCommand(const std::vector<std::string>& parameters, double seconds, bool untilReady,
                            const std::string& folder = "") const;
    // Runs the host in the foreground with the command of HostCommand and checks the rules every
    // run must keep.
    HostResult RunHost(const std::vector<std::string>& parameters, double seconds, bool untilReady);
    // The checks of a finished run, also for runs started with HostProcess. name labels the fault
    // in the printed summary.
    void CheckRun(const HostResult& result);
    // Serves the package at path (ranges honoured).
    void Serve(const FaultPackage& package, const std::string& path = "/pkg");
    // The launch parameters of a run that should reach the hand-off from url.
    std::vector<std::string> RunParameters(const std::string& url) const;
    // Each file of the package is in the cache folder, byte for byte.
    void ExpectCacheHolds(const FaultPackage& package, const std::string& folder = "");
    // The files of mKeep are unchanged in the cache folder (or in folder, a copy of it).
    void ExpectKeptIntact(const std::string& folder = "");
    // Requests of path that asked for a range starting at first.
    std::vector<HttpRequest> RangeRequests(const std::string& path, uint32_t first) const;

    std::string Cache(const std::string& name = "") const;
    std::string Out(const std::string& name) const { return mScratch.Native("out/" + name); }

    ScratchFolder mScratch;
    HttpTestServer mServer;
    // The bound on the longest update outside the blocking steps for this run.
    double mOutsideBoundMs = kLongestOutsideBoundMs;
    // Files put into the cache folder before the run that must come out unchanged.
    std::map<std::string, std::string> mKeep;
    TreeState mOutsideBefore;
};
