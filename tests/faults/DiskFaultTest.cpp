// Faults of the disk: a cache folder that fills up in the middle of a run, and one that cannot be
// written at all (support/DiskFaults says how each system produces them), and entries that are
// no files where module files go.
#include "FaultHarness.h"
#include "support/DiskFaults.h"
#include "support/HeldFile.h"

namespace {

// The cache folder's entries named prefix...suffix, with anything between.
std::vector<std::string> EntriesNamed(const std::string& folder, const std::string& prefix, const std::string& suffix) {
    std::vector<std::string> found;
    for (const NativeEntry& entry : ListNativeTree(folder))
        if (entry.mName.size() > prefix.size() + suffix.size() && entry.mName.rfind(prefix, 0) == 0 &&
            entry.mName.compare(entry.mName.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(entry.mName);
    return found;
}

} // namespace

// The block the disk refuses is fetched once and kept: over 30 s it is written again after
// growing waits, and the trace names the system's reason.
TEST_F(FaultRun, FullCacheFolderKeepsTheRefusedBlockWithoutFetchingItAgain) {
    const FaultPackage package = MakeFaultPackage({{"data/big.bin", NoiseBytes(1 << 20, 5)}});
    Serve(package);
    const std::string game = package.mFiles.at("game.so");
    // Room for the game module and the files already there, not for the big block.
    const size_t room = game.size() + 256 * 1024;
    const DiskFault full = FullFolderFault(Cache(), mScratch.Native("out"), room);
    if (!full.mSkip.empty())
        GTEST_SKIP() << full.mSkip;
    std::printf("[fault] full cache folder: %s\n", full.mDescription.c_str());
    HostProcess host;
    ASSERT_TRUE(host.Start(full.mWrap(HostCommand(RunParameters(mServer.Url("/pkg")), 30, false, full.mFolder)),
                           Out("host.txt")));
    const HostResult result = host.Wait(60);
    CheckRun(result);

    const int writes = result.Count("[Loader] Create VOB(1) file failed: data/big.bin");
    const size_t fetches = RangeRequests("/pkg", package.BlockStart(1)).size();
    std::printf("[fault] full cache folder, 30 s: the block fetched %zu times, written %d times\n", fetches, writes);
    EXPECT_EQ(fetches, 1u);
    EXPECT_GE(writes, 3) << result.mOutput.substr(0, 4000);
    EXPECT_LE(writes, 8);
    EXPECT_EQ(result.Count("[Loader] VOB(1) not written (" + full.mReason + ")"), writes);
    EXPECT_FALSE(result.Contains("ready after"));
    EXPECT_TRUE(ReadNativeFile(full.mAfter + "/game.so") == game) << "the module written before the disk filled up";
    ExpectKeptIntact(full.mAfter);
    ExpectKeptIntact();
}

// A folder that takes no file at all is said once, before the first block; the block is fetched
// once all the same and waits in memory for the folder to change.
TEST_F(FaultRun, ReadOnlyCacheFolderIsSaidOnceAndItsBlockFetchedOnce) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(100000)}});
    Serve(package);
    // The game module is already there and intact; the data file is missing.
    const std::string game = package.mFiles.at("game.so");
    ASSERT_TRUE(WriteNativeFile(Cache("game.so"), game));
    mKeep["game.so"] = game;
    const DiskFault readOnly = ReadOnlyFolderFault(Cache(), mScratch.Native("out"));
    if (!readOnly.mSkip.empty())
        GTEST_SKIP() << readOnly.mSkip;
    std::printf("[fault] read-only cache folder: %s\n", readOnly.mDescription.c_str());
    HostProcess host;
    ASSERT_TRUE(host.Start(readOnly.mWrap(HostCommand(RunParameters(mServer.Url("/pkg")), 30, false, readOnly.mFolder)),
                           Out("host.txt")));
    const HostResult result = host.Wait(60);
    CheckRun(result);

    const int writes = result.Count("[Loader] Create VOB(1) file failed: data/level.txt");
    const size_t fetches = RangeRequests("/pkg", package.BlockStart(1)).size();
    std::printf("[fault] read-only cache folder, 30 s: the block fetched %zu times, written %d times\n", fetches,
                writes);
    EXPECT_EQ(fetches, 1u);
    EXPECT_GE(writes, 3) << result.mOutput.substr(0, 4000);
    EXPECT_LE(writes, 8);
    EXPECT_EQ(result.Count("[Loader] The module folder takes no new file (" + readOnly.mReason + "): "), 1);
    EXPECT_EQ(result.Count("[Loader] VOB(1) not written (" + readOnly.mReason + ")"), writes);
    EXPECT_FALSE(result.Contains("ready after"));
    EXPECT_FALSE(NativeEntryExists(readOnly.mFolder + "/data/level.txt"));
    ExpectKeptIntact(readOnly.mAfter);
}

// A pipe, a link to /dev/zero and a folder stand where module files go: nothing is opened that
// could wait for a writer or read without end, so the host is never held; the pipe and the link
// are replaced, the folder, which cannot be deleted, gets the per-process name.
TEST_F(FaultRun, PipesDevicesAndFoldersNamedLikeModulesNeverHoldTheHost) {
    const FaultPackage package = MakeFaultPackage(
        {{"pipe.dat", TextBytes(3000)}, {"zero.dat", TextBytes(4000)}, {"folder.dat", TextBytes(5000)}});
    Serve(package);
    ASSERT_TRUE(MakeNativePipe(Cache("pipe.dat")));
    ASSERT_TRUE(MakeNativeLink(Cache("zero.dat"), "/dev/zero"));
    ASSERT_TRUE(MakeNativeFolders(Cache("folder.dat")));
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 30, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] VOB(1) file is not a regular file, not read: pipe.dat"), 1) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] VOB(2) file is not a regular file, not read: zero.dat"), 1);
    EXPECT_EQ(result.Count("[Loader] VOB(3) file is not a regular file, not read: folder.dat"), 1);
    EXPECT_EQ(ReadNativeFile(Cache("pipe.dat")), package.mFiles.at("pipe.dat"));
    EXPECT_EQ(ReadNativeFile(Cache("zero.dat")), package.mFiles.at("zero.dat"));
    EXPECT_TRUE(IsNativeFolder(Cache("folder.dat")));
    EXPECT_EQ(RangeRequests("/pkg", package.BlockStart(3)).size(), 1u) << "the folder's block is fetched once";
}

// The game module and a data file are held open by another process (a second copy of the game, a
// virus scanner). Where such a file cannot be replaced (Windows), the run writes and loads
// per-process copies beside them and leaves the held files as they are; the module's copy goes
// with the run. Elsewhere the files are replaced as usual.
TEST_F(FaultRun, ModuleFilesHeldByAnotherProcessAreWrittenBesideThemAndTheRunCompletes) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(20000)}});
    Serve(package);
    const std::string oldModule = "an older module, loaded by another copy of the game\n";
    ASSERT_TRUE(MakeNativeFolders(Cache("data")));
    ASSERT_TRUE(WriteNativeFile(Cache("game.so"), oldModule));
    ASSERT_TRUE(WriteNativeFile(Cache("data/level.txt"), "an older level\n"));
    HeldFile module, level;
    ASSERT_TRUE(module.Hold(Cache("game.so")));
    ASSERT_TRUE(level.Hold(Cache("data/level.txt")));
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 30, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    EXPECT_EQ(RangeRequests("/pkg", package.BlockStart(0)).size(), 1u) << "the module's block is fetched once";
    EXPECT_EQ(RangeRequests("/pkg", package.BlockStart(1)).size(), 1u) << "the data file's block is fetched once";
    if (HeldFile::CanBeReplaced()) {
        ExpectCacheHolds(package);
        return;
    }
    EXPECT_EQ(ReadNativeFile(Cache("game.so")), oldModule);
    EXPECT_EQ(ReadNativeFile(Cache("data/level.txt")), "an older level\n");
    EXPECT_TRUE(EntriesNamed(Cache(), "game-", ".so").empty()) << "the module's copy outlived the run";
    const std::vector<std::string> copies = EntriesNamed(Cache(), "data/level-", ".txt");
    ASSERT_EQ(copies.size(), 1u) << result.mOutput;
    EXPECT_TRUE(ReadNativeFile(Cache(copies[0])) == package.mFiles.at("data/level.txt"));
    ExpectKeptIntact();
}
