// Hostile or odd input from the server side: module names that leave the cache folder, server
// data that makes the pattern search backtrack without end, empty blocks.
#include <cstring>

#include "FaultHarness.h"

namespace {

void NameModuleOneFolderUp(PackageHeader& header)
{
    // "../game.so": the file of that name beside the cache folder must stay as it is.
    std::memset(header.modules[0].fileName, 0, sizeof(header.modules[0].fileName));
    const char16_t name[] = u"../game.so";
    std::memcpy(header.modules[0].fileName, name, sizeof(name));
}

void NameModuleAbsolute(PackageHeader& header)
{
    std::memset(header.modules[1].fileName, 0, sizeof(header.modules[1].fileName));
    const char16_t name[] = u"/tmp/vexal-escape.txt";
    std::memcpy(header.modules[1].fileName, name, sizeof(name));
}

void BreakDigestOfEntryOne(PackageHeader& header) { header.modules[1].digest[0] ^= 0x01020304u; }

int UnrangedRequests(const std::vector<HttpRequest>& requests)
{
    int count = 0;
    for (const HttpRequest& request : requests)
        count += request.HasHeader("Range") ? 0 : 1;
    return count;
}

} // namespace

TEST_F(FaultRun, ModuleNamesLeavingTheCacheFolderAreRefused)
{
    const FaultPackage upward = MakeFaultPackage({{"data/level.txt", TextBytes(20000)}}, NameModuleOneFolderUp);
    const FaultPackage absolute = MakeFaultPackage({{"data/level.txt", TextBytes(20000)}}, NameModuleAbsolute);
    Serve(upward, "/up");
    Serve(absolute, "/abs");
    const HostResult result = RunHost(RunParameters(mServer.Url("/up") + "|" + mServer.Url("/abs")), 3, false);

    EXPECT_GE(result.Count("[Loader] Unsafe VOB file name in header: ../game.so"), 1) << result.mOutput;
    EXPECT_GE(result.Count("[Loader] Unsafe VOB file name in header: /tmp/vexal-escape.txt"), 1);
    EXPECT_FALSE(result.Contains("Enter state 4"));
    EXPECT_EQ(access("/tmp/vexal-escape.txt", F_OK), -1);
    // Both addresses refused: later attempts wait 1 s, then 2 s, instead of one per update.
    EXPECT_TRUE(result.Contains("[Loader] Every package address refused its header, waiting ")) << result.mOutput;
    size_t headerRequests = 0;
    for (const char* path : {"/up", "/abs"}) {
        for (const HttpRequest& request : mServer.Requests(path))
            EXPECT_EQ(request.Header("Range"), "bytes=0-1131") << "no block of a refused package is fetched";
        headerRequests += mServer.Requests(path).size();
    }
    EXPECT_LE(headerRequests, 6u);
    ExpectKeptIntact();
}

TEST_F(FaultRun, ServerDataThatWouldBacktrackWithoutEndIsRefusedQuickly)
{
    // The default server's list opened again and again, never closed, on one line of 1 MiB.
    std::string data = "{\"version\":1,\"default\":12,\"servers\":{";
    while (data.size() < (1u << 20))
        data += "\"12\":[";
    mServer.Route("/serverdata", HttpPlan::Body(data, "text/plain"));
    // The search of the server data runs on the host's thread, bounded by its step limit only.
    mOutsideBoundMs = kLongestUpdateBoundMs;
    const HostResult result = RunHost({"serverdataurl=" + mServer.Url("/serverdata")}, 3, false);

    EXPECT_EQ(result.Count("[Loader] Server data not used: searching its"), 1) << result.mOutput.substr(0, 4000);
    EXPECT_FALSE(result.Contains("Download voa header"));
    EXPECT_TRUE(result.Contains("[Loader] Enter state 2"));
    ExpectKeptIntact();
}

TEST_F(FaultRun, EmptyPlainBlockIsWrittenWithoutARequest)
{
    const FaultPackage package = MakeFaultPackage({{"data/empty.dat", "", kPackZlib, true},
                                                   {"data/level.txt", TextBytes(20000)}});
    ASSERT_EQ(package.mHeader.modules[1].size, 0u);
    Serve(package);
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 30, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    ExpectCacheHolds(package);
    // The size probe is the one request without a range; the empty block needed none.
    EXPECT_EQ(UnrangedRequests(mServer.Requests("/pkg")), 1);
    EXPECT_EQ(mServer.RequestCount("/pkg"), 4u);   // header, probe, two blocks
}

TEST_F(FaultRun, EmptyBlockWithAnotherDigestStopsTheRunInsteadOfLooping)
{
    const FaultPackage package = MakeFaultPackage({{"data/empty.dat", "", kPackZlib, true}}, BreakDigestOfEntryOne);
    Serve(package);
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 3, false);

    EXPECT_EQ(result.Count("[Loader] VOB(1) checksum not correct"), 1) << result.mOutput;
    EXPECT_FALSE(result.Contains("ready after"));
    EXPECT_EQ(UnrangedRequests(mServer.Requests("/pkg")), 1);
    EXPECT_EQ(mServer.RequestCount("/pkg"), 3u);   // header, probe, the game module's block
    ExpectKeptIntact();
}
