// Faults of the disk: a cache folder that fills up in the middle of a run, and one that cannot be
// written at all. The folder is a small tmpfs, or a read-only bind mount, in a private mount
// namespace of the host's own (unshare); where no namespace can be had, a file size limit on the
// host process stands in for the full disk and plain permissions for the read-only folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "FaultHarness.h"

namespace {

// "unshare -m" as root, "unshare -rm" (a user namespace of our own) otherwise; "" when neither
// can mount here.
std::string MountNamespacePrefix(const std::string& scratch) {
    const std::string probe = scratch + "/mount-probe";
    mkdir(probe.c_str(), 0755);
    for (const char* prefix : {"unshare -m ", "unshare -rm "}) {
        const std::string command = std::string(prefix) + "sh -c 'mount -t tmpfs -o size=64k tmpfs \"" + probe +
                                    "\"' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            return prefix;
    }
    return "";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

} // namespace

// The block the disk refuses is fetched once and kept: over 30 s it is written again after
// growing waits, and the trace names the system's reason.
TEST_F(FaultRun, FullCacheFolderKeepsTheRefusedBlockWithoutFetchingItAgain) {
    const FaultPackage package = MakeFaultPackage({{"data/big.bin", NoiseBytes(1 << 20, 5)}});
    Serve(package);
    const std::string game = package.mFiles.at("game.so");
    const std::string prefix = MountNamespacePrefix(mScratch.Native("out"));
    // Room for the game module and the files already there, not for the big block.
    const size_t room = game.size() + 256 * 1024;
    std::string wrapped;
    std::string after = Cache();
    if (!prefix.empty()) {
        std::printf("[fault] full cache folder: a tmpfs of %zu KiB in a private mount namespace\n", room / 1024);
        // The folder's files move onto the tmpfs for the run and are copied out afterwards.
        ASSERT_EQ(mkdir(Out("before").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(Out("after").c_str(), 0755), 0);
        after = Out("after");
        wrapped = prefix + "sh -c " +
                  Quoted("cp -a '" + Cache() + "/.' '" + Out("before") + "' && mount -t tmpfs -o size=" +
                         std::to_string(room / 1024) + "k tmpfs '" + Cache() + "' && cp -a '" + Out("before") +
                         "/.' '" + Cache() + "' && " + HostCommand(RunParameters(mServer.Url("/pkg")), 30, false) +
                         "; status=\\$?; cp -a '" + Cache() + "/.' '" + Out("after") + "'; exit \\$status");
    } else {
        std::printf("[fault] full cache folder: a file size limit of %zu bytes on the host\n", room);
        // SIGXFSZ ignored: a write past the limit fails with EFBIG, as one past a full disk would.
        wrapped = "trap '' XFSZ; exec prlimit --fsize=" + std::to_string(room) + " -- " +
                  HostCommand(RunParameters(mServer.Url("/pkg")), 30, false);
    }
    HostProcess host;
    ASSERT_TRUE(host.Start(wrapped, Out("host.txt")));
    const HostResult result = host.Wait(60);
    CheckRun(result);

    const int writes = result.Count("[Loader] Create VOB(1) file failed: data/big.bin");
    const size_t fetches = RangeRequests("/pkg", package.BlockStart(1)).size();
    std::printf("[fault] full cache folder, 30 s: the block fetched %zu times, written %d times\n", fetches, writes);
    EXPECT_EQ(fetches, 1u);
    EXPECT_GE(writes, 3) << result.mOutput.substr(0, 4000);
    EXPECT_LE(writes, 8);
    EXPECT_EQ(result.Count(prefix.empty() ? "[Loader] VOB(1) not written (File too large)"
                                          : "[Loader] VOB(1) not written (No space left on device)"),
              writes);
    EXPECT_FALSE(result.Contains("ready after"));
    EXPECT_TRUE(ReadNativeFile(after + "/game.so") == game) << "the module written before the disk filled up";
    ExpectKeptIntact(after);
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
    std::string prefix;
    if (geteuid() != 0) {
        std::printf("[fault] read-only cache folder: permissions 0555\n");
        ASSERT_EQ(chmod(Cache().c_str(), 0555), 0);
    } else {
        // Root writes through permissions: the folder is remounted read-only in a namespace.
        const std::string mount = MountNamespacePrefix(mScratch.Native("out"));
        if (mount.empty())
            GTEST_SKIP() << "running as root without mount namespaces: no way to make a folder read-only";
        std::printf("[fault] read-only cache folder: a read-only bind mount in a private mount namespace\n");
        prefix = mount + "sh -c " +
                 Quoted("mount --bind '" + Cache() + "' '" + Cache() + "' && mount -o remount,bind,ro '" + Cache() +
                        "' && exec \\\"\\$0\\\" \\\"\\$@\\\"");
    }
    std::string command = HostCommand(RunParameters(mServer.Url("/pkg")), 30, false);
    if (!prefix.empty()) {
        // The host's command line becomes the inner shell's arguments.
        command = prefix + " " + command;
    }
    HostProcess host;
    ASSERT_TRUE(host.Start(command, Out("host.txt")));
    const HostResult result = host.Wait(60);
    chmod(Cache().c_str(), 0755);
    CheckRun(result);

    const int writes = result.Count("[Loader] Create VOB(1) file failed: data/level.txt");
    const size_t fetches = RangeRequests("/pkg", package.BlockStart(1)).size();
    std::printf("[fault] read-only cache folder, 30 s: the block fetched %zu times, written %d times\n", fetches,
                writes);
    EXPECT_EQ(fetches, 1u);
    EXPECT_GE(writes, 3) << result.mOutput.substr(0, 4000);
    EXPECT_LE(writes, 8);
    const std::string reason = geteuid() != 0 ? "Permission denied" : "Read-only file system";
    EXPECT_EQ(result.Count("[Loader] The module folder takes no new file (" + reason + "): "), 1);
    EXPECT_EQ(result.Count("[Loader] VOB(1) not written (" + reason + ")"), writes);
    EXPECT_FALSE(result.Contains("ready after"));
    EXPECT_EQ(access(Cache("data/level.txt").c_str(), F_OK), -1);
    ExpectKeptIntact();
}

// A pipe, a link to /dev/zero and a folder stand where module files go: nothing is opened that
// could wait for a writer or read without end, so the host is never held; the pipe and the link
// are replaced, the folder, which cannot be deleted, gets the per-process name.
TEST_F(FaultRun, PipesDevicesAndFoldersNamedLikeModulesNeverHoldTheHost) {
    const FaultPackage package = MakeFaultPackage(
        {{"pipe.dat", TextBytes(3000)}, {"zero.dat", TextBytes(4000)}, {"folder.dat", TextBytes(5000)}});
    Serve(package);
    ASSERT_EQ(mkfifo(Cache("pipe.dat").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", Cache("zero.dat").c_str()), 0);
    ASSERT_EQ(mkdir(Cache("folder.dat").c_str(), 0700), 0);
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 30, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] VOB(1) file is not a regular file, not read: pipe.dat"), 1) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] VOB(2) file is not a regular file, not read: zero.dat"), 1);
    EXPECT_EQ(result.Count("[Loader] VOB(3) file is not a regular file, not read: folder.dat"), 1);
    EXPECT_EQ(ReadNativeFile(Cache("pipe.dat")), package.mFiles.at("pipe.dat"));
    EXPECT_EQ(ReadNativeFile(Cache("zero.dat")), package.mFiles.at("zero.dat"));
    struct stat info;
    EXPECT_EQ(lstat(Cache("folder.dat").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(RangeRequests("/pkg", package.BlockStart(3)).size(), 1u) << "the folder's block is fetched once";
}
