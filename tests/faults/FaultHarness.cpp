// Host runs under faults: the package, the background host process, the tree snapshots and the
// checks shared by every fault.
#include "FaultHarness.h"

#include <cstdio>
#include <cstdlib>

#include "Source/Common/Digest.h"
#include "Source/Common/PackageFormat.h"
#include "support/TestEnvironment.h"

namespace {

const char* const kHost = VEXAL_HOST_PROGRAM;

std::string DigestText(const std::string& bytes) {
    return NarrowText(DigestToText(ComputeDigest(bytes.data(), bytes.size())).Data());
}

} // namespace

std::string NoiseBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x >> 11);
    }
    return out;
}

std::string TextBytes(size_t size) {
    std::string out;
    for (int line = 0; out.size() < size; ++line)
        out += "entity " + std::to_string(line % 977) + " at " + std::to_string(line % 31) + "\n";
    out.resize(size);
    return out;
}

FaultPackage MakeFaultPackage(const std::vector<FaultModule>& modules, void (*adjust)(PackageHeader&)) {
    FaultPackage package;
    const std::string game = ReadNativeFile(VEXAL_RECORDING_MODULE);
    EXPECT_FALSE(game.empty()) << VEXAL_RECORDING_MODULE;
    PackageBuilder builder;
    builder.SetName(u"Fault game");
    builder.SetCacheName(u"faultgame");
    EXPECT_TRUE(builder.AddModule(u"game.so", game.data(), uint32_t(game.size()), kPackZlib, -1));
    package.mFiles["game.so"] = game;
    for (const FaultModule& module : modules) {
        const String name = WideText(module.mName);
        const bool added = module.mPlain
                               ? builder.AddPlainModule(name, module.mContent.data(), uint32_t(module.mContent.size()))
                               : builder.AddModule(name, module.mContent.data(), uint32_t(module.mContent.size()),
                                                   module.mMethod, -1);
        EXPECT_TRUE(added) << module.mName;
        package.mFiles[module.mName] = module.mContent;
    }
    Buffer output;
    EXPECT_TRUE(builder.Finish(output));
    if (adjust != nullptr) {
        adjust(builder.Header());
        WritePackageHeader(builder.Header(), output.GetData());
    }
    package.mHeader = builder.Header();
    package.mBytes.assign(reinterpret_cast<const char*>(output.GetData()), output.GetSize());
    return package;
}

int HostResult::Count(const std::string& text) const {
    int count = 0;
    for (size_t at = mOutput.find(text); at != std::string::npos; at = mOutput.find(text, at + text.size()))
        ++count;
    return count;
}

bool HostProcess::Start(const ProgramLine& command, const std::string& outputPath) {
    mOutputPath = outputPath;
    return mProgram.Start(command, outputPath);
}

HostResult HostProcess::Wait(int timeoutSeconds) {
    HostResult result;
    bool timedOut = false;
    result.mStatus = mProgram.Wait(timeoutSeconds, timedOut);
    if (timedOut)
        ADD_FAILURE() << "the host did not end within " << timeoutSeconds << " s";
    result.mOutput = ReadNativeFile(mOutputPath);
    const std::string marker = "longest update ";
    size_t at = result.mOutput.rfind(marker);
    if (at != std::string::npos)
        result.mLongestUpdateMs = std::atof(result.mOutput.c_str() + at + marker.size());
    const std::string outside = "[Loader] Longest update outside the blocking steps: ";
    at = result.mOutput.rfind(outside);
    if (at != std::string::npos)
        result.mLongestOutsideMs = std::atof(result.mOutput.c_str() + at + outside.size());
    return result;
}

TreeState SnapshotTree(const std::string& root, const std::string& skip) {
    TreeState tree;
    for (const NativeEntry& entry : ListNativeTree(root)) {
        if (!skip.empty() && (entry.mName == skip || entry.mName.rfind(skip + "/", 0) == 0))
            continue;
        tree[entry.mName] = entry.mFile ? entry.mState + " " + DigestText(ReadNativeFile(root + "/" + entry.mName))
                                        : entry.mState;
    }
    return tree;
}

void FaultRun::SetUp() {
    ASSERT_TRUE(mScratch.IsValid());
    for (const char* folder : {"run", "run/cache", "run/sentinel", "run/sentinel/deep", "run/home", "out"})
        ASSERT_TRUE(MakeNativeFolders(mScratch.Native(folder))) << folder;
    // Beside the cache folder: files no run may touch.
    ASSERT_TRUE(WriteNativeFile(mScratch.Native("run/sentinel/notes.txt"), "player's notes\n"));
    ASSERT_TRUE(WriteNativeFile(mScratch.Native("run/sentinel/deep/save.dat"), NoiseBytes(5000, 7)));
    ASSERT_TRUE(WriteNativeFile(mScratch.Native("run/game.so"), "a file of the same name one folder up\n"));
    // In the cache folder: a file that is no module, and one the package does not list.
    mKeep["settings.ini"] = "volume=7\n";
    mKeep["screenshots/shot1.png"] = NoiseBytes(3000, 11);
    ASSERT_TRUE(MakeNativeFolders(Cache("screenshots")));
    for (const auto& [name, content] : mKeep)
        ASSERT_TRUE(WriteNativeFile(Cache(name), content));
    ASSERT_TRUE(mServer.Start());
    mOutsideBefore = SnapshotTree(mScratch.Native("run"), "cache");
}

void FaultRun::TearDown() {
    mServer.Stop();
}

std::string FaultRun::Cache(const std::string& name) const {
    return mScratch.Native(name.empty() ? "run/cache" : "run/cache/" + name);
}

ProgramLine FaultRun::HostCommand(const std::vector<std::string>& parameters, double seconds, bool untilReady,
                                  const std::string& folder) const {
    ProgramLine command;
    // Under ThreadSanitizer the host reads the suppressions of the uninstrumented font libraries.
    command.mEnvironment = {std::string(kProfileVariable) + "=" + mScratch.Native("run/home"), "[VEXAL-DEBUG]=YES",
                            "TSAN_OPTIONS=halt_on_error=1 suppressions=" VEXAL_FAULT_TSAN};
    command.mArguments = {kHost, "--headless", "--seconds", std::to_string(seconds)};
    if (untilReady)
        command.mArguments.push_back("--until-ready");
    command.mArguments.insert(command.mArguments.end(), {"--cwd", folder.empty() ? Cache() : folder});
    command.mArguments.insert(command.mArguments.end(), parameters.begin(), parameters.end());
    return command;
}

HostResult FaultRun::RunHost(const std::vector<std::string>& parameters, double seconds, bool untilReady) {
    HostProcess host;
    EXPECT_TRUE(host.Start(HostCommand(parameters, seconds, untilReady), Out("host.txt")));
    HostResult result = host.Wait(int(seconds) + 60);
    CheckRun(result);
    return result;
}

void FaultRun::CheckRun(const HostResult& result) {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // A run that never reached the hand-off ends with status 1 and says so.
    const bool ready = result.Contains("ready after ");
    EXPECT_EQ(result.mStatus, ready ? 0 : 1) << result.mOutput.substr(0, 20000);
    EXPECT_EQ(result.Contains("vexal-host: the run ended before the progress reached 1"), !ready);
    EXPECT_FALSE(result.Contains("AddressSanitizer") || result.Contains("runtime error:") ||
                 result.Contains("ThreadSanitizer"));
    EXPECT_GE(result.mLongestUpdateMs, 0.0) << "no longest update printed";
    EXPECT_LE(result.mLongestUpdateMs, kLongestUpdateBoundMs) << "the host's thread was held too long";
    EXPECT_GE(result.mLongestOutsideMs, 0.0) << "no longest update outside the blocking steps written";
    EXPECT_LE(result.mLongestOutsideMs, mOutsideBoundMs) << "the host's thread was held outside the blocking steps";
    RecordProperty("longest_update_ms", std::to_string(result.mLongestUpdateMs));
    RecordProperty("longest_update_outside_blocking_ms", std::to_string(result.mLongestOutsideMs));
    std::printf("[fault] %s: longest update %.1f ms, outside the blocking steps %.3f ms\n", name.c_str(),
                result.mLongestUpdateMs, result.mLongestOutsideMs);

    // Nothing beside the cache folder changed, and what was there before the run is intact.
    const TreeState outside = SnapshotTree(mScratch.Native("run"), "cache");
    EXPECT_EQ(outside, mOutsideBefore) << "a file outside the cache folder changed";
}

void FaultRun::Serve(const FaultPackage& package, const std::string& path) {
    mServer.Route(path, HttpPlan::Body(package.mBytes));
}

std::vector<std::string> FaultRun::RunParameters(const std::string& url) const {
    // The recording module reports itself loaded and ready at once.
    return {"voaparam=progress|1|ready|1|quiet|1", "voaurl=" + url};
}

void FaultRun::ExpectCacheHolds(const FaultPackage& package, const std::string& folder) {
    const std::string root = folder.empty() ? Cache() : folder;
    for (const auto& [name, content] : package.mFiles) {
        const std::string cached = ReadNativeFile(root + "/" + name);
        EXPECT_EQ(cached.size(), content.size()) << name;
        EXPECT_TRUE(cached == content) << name << " differs";
    }
    ExpectKeptIntact(root);
}

void FaultRun::ExpectKeptIntact(const std::string& folder) {
    const std::string root = folder.empty() ? Cache() : folder;
    for (const auto& [name, content] : mKeep)
        EXPECT_TRUE(ReadNativeFile(root + "/" + name) == content) << name << " was changed";
}

std::vector<HttpRequest> FaultRun::RangeRequests(const std::string& path, uint32_t first) const {
    std::vector<HttpRequest> found;
    const std::string prefix = "bytes=" + std::to_string(first) + "-";
    for (const HttpRequest& request : mServer.Requests(path))
        if (request.Header("Range").rfind(prefix, 0) == 0)
            found.push_back(request);
    return found;
}
