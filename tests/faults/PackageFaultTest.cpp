// Hostile or odd input from the server side: module names that leave the cache folder, server
// data that makes the pattern search backtrack without end, empty blocks, signature files that
// never end or never come.
#include <atomic>
#include <memory>
#include <cstdlib>
#include <cstring>

#include "FaultHarness.h"
#include "Source/Common/Base64.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/PackageSignature.h"

namespace {

void NameModuleOneFolderUp(PackageHeader& header) {
    // "../game.so": the file of that name beside the cache folder must stay as it is.
    std::memset(header.modules[0].fileName, 0, sizeof(header.modules[0].fileName));
    const char16_t name[] = u"../game.so";
    std::memcpy(header.modules[0].fileName, name, sizeof(name));
}

void NameModuleAbsolute(PackageHeader& header) {
    std::memset(header.modules[1].fileName, 0, sizeof(header.modules[1].fileName));
    const char16_t name[] = u"/tmp/vexal-escape.txt";
    std::memcpy(header.modules[1].fileName, name, sizeof(name));
}

void BreakDigestOfEntryOne(PackageHeader& header) { header.modules[1].digest[0] ^= 0x01020304u; }

// The signature file of a package, signed with a fresh key whose base64 goes to keyText.
std::string SignedFile(const FaultPackage& package, std::string& keyText) {
    Ed25519SecretKey key;
    Ed25519PublicKey publicKey;
    EXPECT_TRUE(key.Generate() && key.GetPublicKey(publicKey));
    char text[Base64Length(kEd25519KeySize) + 1];
    Base64Encode(publicKey.bytes, kEd25519KeySize, text);
    keyText = text;
    PackageSignature signature;
    EXPECT_TRUE(DescribeSignedHeader(reinterpret_cast<const uint8_t*>(package.mBytes.data()), kSignedHeaderSize,
                                     signature));
    signature.mRelease = 1;
    for (int i = 0; i < VEXAL_MODULE_COUNT; ++i) {
        if (((signature.mModuleMask >> i) & 1) == 0)
            continue;
        std::string name;
        for (const char16_t unit : package.mHeader.modules[i].fileName)
            if (unit != 0)
                name += char(unit);
        const std::string& content = package.mFiles.at(name);
        EXPECT_TRUE(ComputeSha256(content.data(), content.size(), signature.mModules[i]));
        signature.mModuleSizes[i] = uint32_t(content.size());
    }
    Buffer file;
    EXPECT_TRUE(SignPackageSignature(signature, key, file));
    return std::string(reinterpret_cast<const char*>(file.GetData()), file.GetSize());
}

// Release 1 was accepted before: the profile folder, outside the cache, is then left as it is
// by a run that accepts it again.
void AcceptReleaseOneBefore(const ScratchFolder& scratch, TreeState& outside) {
    const std::string profile = scratch.Native("run/home/vexal/faultgame");
    ASSERT_TRUE(MakeNativeFolders(profile));
    ASSERT_TRUE(WriteNativeFile(profile + "/release", "1\n"));
    outside = SnapshotTree(scratch.Native("run"), "cache");
}

int UnrangedRequests(const std::vector<HttpRequest>& requests) {
    int count = 0;
    for (const HttpRequest& request : requests)
        count += request.HasHeader("Range") ? 0 : 1;
    return count;
}

} // namespace

TEST_F(FaultRun, ModuleNamesLeavingTheCacheFolderAreRefused) {
    const FaultPackage upward = MakeFaultPackage({{"data/level.txt", TextBytes(20000)}}, NameModuleOneFolderUp);
    const FaultPackage absolute = MakeFaultPackage({{"data/level.txt", TextBytes(20000)}}, NameModuleAbsolute);
    Serve(upward, "/up");
    Serve(absolute, "/abs");
    const HostResult result = RunHost(RunParameters(mServer.Url("/up") + "|" + mServer.Url("/abs")), 3, false);

    EXPECT_GE(result.Count("[Loader] Unsafe VOB file name in header: ../game.so"), 1) << result.mOutput;
    EXPECT_GE(result.Count("[Loader] Unsafe VOB file name in header: /tmp/vexal-escape.txt"), 1);
    EXPECT_FALSE(result.Contains("Enter state 4"));
    EXPECT_FALSE(NativeEntryExists("/tmp/vexal-escape.txt"));
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

TEST_F(FaultRun, ServerDataThatWouldBacktrackWithoutEndIsRefusedQuickly) {
    // The default server's list opened again and again, never closed, on one line of 1 MiB.
    std::string data = "{\"version\":1,\"default\":12,\"servers\":{";
    while (data.size() < (1u << 20))
        data += "\"12\":[";
    mServer.Route("/serverdata", HttpPlan::Body(data, "text/plain"));
    const HostResult result = RunHost({"serverdataurl=" + mServer.Url("/serverdata")}, 3, false);

    EXPECT_EQ(result.Count("[Loader] Server data not used: searching its"), 1) << result.mOutput.substr(0, 4000);
    EXPECT_FALSE(result.Contains("Download voa header"));
    EXPECT_TRUE(result.Contains("[Loader] Enter state 2"));
    ExpectKeptIntact();
}

TEST_F(FaultRun, EmptyPlainBlockIsWrittenWithoutARequest) {
    const FaultPackage package = MakeFaultPackage({{"data/empty.dat", "", kPackZlib, true},
                                                   {"data/level.txt", TextBytes(20000)}});
    ASSERT_EQ(package.mHeader.modules[1].size, 0u);
    Serve(package);
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 30, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    ExpectCacheHolds(package);
    // The header's answer names the package's length (no size probe); the empty block needed
    // no request.
    EXPECT_EQ(UnrangedRequests(mServer.Requests("/pkg")), 0);
    EXPECT_EQ(mServer.RequestCount("/pkg"), 3u); // header, two blocks
}

TEST_F(FaultRun, EmptyBlockWithAnotherDigestStopsTheRunInsteadOfLooping) {
    const FaultPackage package = MakeFaultPackage({{"data/empty.dat", "", kPackZlib, true}}, BreakDigestOfEntryOne);
    Serve(package);
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 3, false);

    EXPECT_EQ(result.Count("[Loader] VOB(1) checksum not correct"), 1) << result.mOutput;
    EXPECT_FALSE(result.Contains("ready after"));
    EXPECT_EQ(UnrangedRequests(mServer.Requests("/pkg")), 0);
    EXPECT_EQ(mServer.RequestCount("/pkg"), 2u); // header, the game module's block
    ExpectKeptIntact();
}

// With "voakey": a first mirror whose signature file is 10 MiB (ranges ignored) and a second whose
// signature file never comes are refused without holding the host's thread; the third serves.
TEST_F(FaultRun, SignatureFilesTooLargeOrNeverSentAreRefusedBesideTheHostsThread) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(200000)}});
    std::string keyText;
    const std::string signature = SignedFile(package, keyText);
    for (const char* path : {"/large", "/silent", "/good"})
        Serve(package, path);
    mServer.Route("/large.sig", HttpPlan::Generated(10u << 20, [](uint64_t, char* out, size_t count) {
                                    std::memset(out, 's', count);
                                }).IgnoreRanges());
    mServer.Route("/silent.sig", HttpPlan::Body("never sent").Silent());
    mServer.Route("/good.sig", HttpPlan::Body(signature));
    std::vector<std::string> parameters =
        RunParameters(mServer.Url("/large") + "|" + mServer.Url("/silent") + "|" + mServer.Url("/good"));
    parameters.insert(parameters.begin(), {"voatimeout=1000", "voakey=" + keyText});
    AcceptReleaseOneBefore(mScratch, mOutsideBefore);
    const HostResult result = RunHost(parameters, 60, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] Voa signature not accepted (too large), try backup url: " +
                           mServer.Url("/silent")),
              1)
        << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] Voa signature not accepted (missing), try backup url: " + mServer.Url("/good")),
              1);
    ExpectCacheHolds(package);
    for (const char* path : {"/large", "/silent"})
        for (const HttpRequest& request : mServer.Requests(path))
            EXPECT_TRUE(request.Header("Range").empty() || request.Header("Range") == "bytes=0-1131")
                << "no block of a refused mirror is fetched";
}

// With "voakey": a block of some 400 KB declaring 1 GiB, twice, is refused before it is unpacked,
// so neither the allocation nor the decoding holds the host's thread; the genuine block follows.
TEST_F(FaultRun, SignedBlockDeclaringAnotherSizeIsRefusedBeforeUnpacking) {
    const FaultPackage package = MakeFaultPackage({{"data/noise.bin", NoiseBytes(400000, 3)}});
    std::string keyText;
    const std::string signature = SignedFile(package, keyText);
    std::string swollen = package.mBytes;
    const uint32_t declared = 1u << 30;
    std::memcpy(&swollen[package.BlockStart(1) + kPackedSizeOffset], &declared, 4);
    const uint32_t first = package.BlockStart(1);
    auto served = std::make_shared<std::atomic<int>>(0);
    const std::string genuine = package.mBytes;
    mServer.Handle("/pkg", [served, genuine, swollen, first](const HttpRequest& request, int) {
        const bool block = request.Header("Range").rfind("bytes=" + std::to_string(first) + "-", 0) == 0;
        return HttpPlan::Body(block && served->fetch_add(1) < 2 ? swollen : genuine);
    });
    mServer.Route("/pkg.sig", HttpPlan::Body(signature));
    std::vector<std::string> parameters = RunParameters(mServer.Url("/pkg"));
    parameters.insert(parameters.begin(), {"voakey=" + keyText, "voagame=faultgame"});
    AcceptReleaseOneBefore(mScratch, mOutsideBefore);
    const HostResult result = RunHost(parameters, 30, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] VOB(1) block unpacks to 1073741824 bytes, 400000 signed: not unpacked"), 2)
        << result.mOutput;
    EXPECT_FALSE(result.Contains("Unpack Error"));
    ExpectCacheHolds(package);
}
