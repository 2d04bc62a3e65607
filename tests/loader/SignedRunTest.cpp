// Whole runs with "voakey": the publisher's signature file judged before any module file is
// touched, each known attack on an updater refused at its mirror, and the run carried by the
// next address.
#include <atomic>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include "LoaderHarness.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/PackageSignature.h"
#include "Source/Platform/File.h"
#include "Source/Common/PackageFormat.h"

namespace {

Release MakeRelease(const std::vector<TestModule>& modules,
                    const std::function<void(PackageBuilder&)>& adjust = nullptr) {
    Release release;
    release.mPackage = MakePackage(modules, 2, nullptr, adjust);
    for (const TestModule& module : modules)
        release.mContents.push_back(module.content);
    return release;
}

class SignedRunTest : public LoaderTest {
protected:
    void SetUp() override {
        LoaderTest::SetUp();
        std::remove(ReleaseFile().c_str());
        mGenuine = MakeRelease({{"game.so", RecordingModuleBytes()}, {"level.dat", "genuine level"}});
        mGenuineSignature = Sign(mGenuine, 5, mPublisher.mKey);
        Serve("/b.vpk", mGenuine.mPackage, mGenuineSignature);
    }
    void TearDown() override {
        LoaderTest::TearDown();
        std::remove(ReleaseFile().c_str());
    }

    void Serve(const std::string& path, const std::string& package, const std::string& signature) {
        mServer.Route(path, HttpPlan::Body(package));
        mServer.Route(path + ".sig", HttpPlan::Body(signature));
    }

    int BlockRequests(const std::string& path) const {
        int count = 0;
        for (const HttpRequest& request : mServer.Requests(path)) {
            const std::string range = request.Header("Range");
            count += !range.empty() && range != "bytes=0-1131" ? 1 : 0;
        }
        return count;
    }

    Publisher mPublisher;
    Release mGenuine;
    std::string mGenuineSignature;
};

} // namespace

// Mirror A serves something the publisher did not sign for this header; B serves the genuine
// release. A is refused with its reason before any block of it is fetched, and B carries the run.
TEST_F(SignedRunTest, EveryForgedOrBrokenSignatureRefusesTheMirrorAndTheNextOneServes) {
    Publisher other;
    const Release foreign = MakeRelease({{"game.so", RecordingModuleBytes("recording_minimal")},
                                         {"level.dat", "genuine level"}});
    const Release older = MakeRelease({{"game.so", RecordingModuleBytes()}, {"level.dat", "older level"}});
    const Release otherGame = MakeRelease({{"game.so", RecordingModuleBytes()}, {"level.dat", "genuine level"}},
                                          [](PackageBuilder& builder) { builder.SetCacheName(u"othergame"); });
    const Release studio = MakeRelease({{"game.so", RecordingModuleBytes()}, {"level.dat", "genuine level"}},
                                       [](PackageBuilder& builder) { builder.SetCacheName(u"studio/game"); });
    const std::string signature = mGenuineSignature;
    struct Case {
        const char* mThreat;
        std::string mPackage;
        HttpPlan mSignature;
        std::string mReason;
    };
    const std::vector<Case> cases = {
        {"arbitrary package with the genuine signature", foreign.mPackage, HttpPlan::Body(signature),
         "header differs"},
        {"mix-and-match: a header with another release's signature", older.mPackage, HttpPlan::Body(signature),
         "header differs"},
        {"another game's signature", mGenuine.mPackage, HttpPlan::Body(Sign(otherGame, 9, mPublisher.mKey)),
         "other package"},
        {"freeze: an expired signature", mGenuine.mPackage,
         HttpPlan::Body(Sign(mGenuine, 5, mPublisher.mKey, int64_t(std::time(nullptr)) - 60)), "expired"},
        {"wrong key", mGenuine.mPackage, HttpPlan::Body(Sign(mGenuine, 5, other.mKey)), "bad signature"},
        {"a cache name that cannot hold the release record", studio.mPackage, HttpPlan::Body(Sign(studio, 9, mPublisher.mKey)),
         "cache name not usable"},
        {"signature file missing", mGenuine.mPackage, HttpPlan::Error(404), "missing"},
        {"signature file empty", mGenuine.mPackage, HttpPlan::Body("").IgnoreRanges(), "damaged"},
        {"signature file truncated", mGenuine.mPackage, HttpPlan::Body(signature.substr(0, signature.size() / 2)),
         "damaged"},
        {"signature file garbage", mGenuine.mPackage, HttpPlan::Body(std::string(300, '\x9c')), "damaged"},
        {"10 MiB signature file", mGenuine.mPackage,
         HttpPlan::Generated(10u << 20, [](uint64_t, char* out, size_t count) { std::memset(out, 'v', count); }),
         "too large"},
        {"10 MiB signature file, ranges ignored", mGenuine.mPackage,
         HttpPlan::Generated(10u << 20, [](uint64_t, char* out, size_t count) { std::memset(out, 'v', count); })
             .IgnoreRanges(),
         "too large"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.mThreat);
        mTrace.Clear();
        mServer.ClearLog();
        std::remove(Here("game.so").c_str());
        std::remove(Here("level.dat").c_str());
        mServer.Route("/a.vpk", HttpPlan::Body(item.mPackage));
        mServer.Route("/a.vpk.sig", item.mSignature);
        {
            TestLoader loader;
            loader.Set("voatimeout", "2000"); // the missing file's wait; every other case moves on at once
            loader.Set("voakey", mPublisher.mPublic);
            loader.Set("voaurl", Url("/a.vpk") + "|" + Url("/b.vpk"));
            ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
            EXPECT_EQ(loader.mUrlIndex, 1u);
        }
        EXPECT_EQ(mTrace.Count("[Loader] Voa signature not accepted (" + item.mReason +
                               "), try backup url: " + Url("/b.vpk")),
                  1);
        EXPECT_EQ(mTrace.Count("[Loader] Voa signature not accepted"), 1);
        EXPECT_TRUE(mTrace.Contains("[Loader] Voa signature accepted: release 5, key 1 (" + mPublisher.mPublic + ")"));
        // Nothing of A reached the disk or the process: the module created is the genuine one.
        EXPECT_EQ(BlockRequests("/a.vpk"), 0);
        EXPECT_EQ(ReadNativeFile(Here("game.so")), RecordingModuleBytes());
        EXPECT_EQ(ReadNativeFile(Here("level.dat")), "genuine level");
        // The signature file is asked for with a cap one byte past the largest file read.
        const std::vector<HttpRequest> requests = mServer.Requests("/a.vpk.sig");
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].Header("Range"), "bytes=0-65536");
    }
}

// Without "voakey" the same hostile mirror is taken: the signature is an opt-in.
TEST_F(SignedRunTest, WithoutVoakeyTheTamperedMirrorIsTakenAndNoSignatureIsAskedFor) {
    const std::string minimal = RecordingModuleBytes("recording_minimal");
    const Release foreign = MakeRelease({{"game.so", minimal}, {"level.dat", "genuine level"}});
    Serve("/a.vpk", foreign.mPackage, mGenuineSignature);
    TestLoader loader;
    loader.Set("voaurl", Url("/a.vpk") + "|" + Url("/b.vpk"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(loader.mUrlIndex, 0u);
    EXPECT_EQ(ReadNativeFile(Here("game.so")), minimal);
    EXPECT_EQ(mServer.RequestCount("/a.vpk.sig"), 0u);
    EXPECT_EQ(mServer.RequestCount("/b.vpk.sig"), 0u);
}

// Keys given while the size probe runs, after the header itself has come, have the header asked
// for again and judged: the genuine mirror is taken, not refused for a header never hashed.
TEST_F(SignedRunTest, KeysGivenWhileTheSizeProbeRunsHaveTheHeaderJudged) {
    const std::string package = mGenuine.mPackage;
    // The header's answer names no total, so the size probe runs.
    mServer.Handle("/slow.vpk", [package](const HttpRequest& request, int) {
        if (!request.HasHeader("Range"))
            return HttpPlan::Body(package).DelayHead(1500);
        if (request.Header("Range") == "bytes=0-1131")
            return HttpPlan::PartWithoutTotal(package.substr(0, 1132));
        return HttpPlan::Body(package);
    });
    mServer.Route("/slow.vpk.sig", HttpPlan::Body(mGenuineSignature));
    TestLoader loader;
    loader.Set("voaurl", Url("/slow.vpk"));
    ASSERT_TRUE(Pump(loader, [&] {
        for (const HttpRequest& request : mServer.Requests("/slow.vpk"))
            if (!request.HasHeader("Range"))
                return true;
        return false;
    }));
    ASSERT_EQ(loader.mState, LoaderStateHeader);
    loader.Set("voakey", mPublisher.mPublic);
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(mTrace.Count("[Loader] Voa signature not accepted"), 0);
    EXPECT_EQ(mServer.RequestCount("/slow.vpk.sig"), 1u);
}

// Release 5 accepted and recorded; a later run offered a correctly signed release 4 refuses it.
TEST_F(SignedRunTest, RollbackToAnOlderSignedReleaseIsRefused) {
    {
        TestLoader loader;
        loader.Set("voakey", mPublisher.mPublic);
        loader.Set("voaurl", Url("/b.vpk"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    }
    WaitForStoppedTransfers(); // the release is stored on a worker
    EXPECT_EQ(ReadNativeFile(ReleaseFile()), "5\n");

    const Release older = MakeRelease({{"game.so", RecordingModuleBytes()}, {"level.dat", "older level"}});
    Serve("/a.vpk", older.mPackage, Sign(older, 4, mPublisher.mKey));
    mTrace.Clear();
    {
        TestLoader loader;
        loader.Set("voakey", mPublisher.mPublic);
        loader.Set("voaurl", Url("/a.vpk") + "|" + Url("/b.vpk"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    }
    EXPECT_EQ(mTrace.Count("[Loader] Voa signature not accepted (older release 4 < 5), try backup url: " +
                           Url("/b.vpk")),
              1);
    EXPECT_EQ(ReadNativeFile(Here("level.dat")), "genuine level");
    WaitForStoppedTransfers();
    EXPECT_EQ(ReadNativeFile(ReleaseFile()), "5\n");
}

// Key rotation: any listed key may sign; an item that is no key is reported and left out. The
// signature file goes over the package's handle, CDN Host header included.
TEST_F(SignedRunTest, AnyListedKeyMaySignAndTheSignatureTravelsLikeThePackage) {
    Publisher next;
    Serve("/b.vpk", mGenuine.mPackage, Sign(mGenuine, 6, next.mKey));
    TestLoader loader;
    loader.Set("cdnip", "localhost");
    loader.Set("voakey", mPublisher.mPublic + " | not-a-key |" + next.mPublic);
    loader.Set("voaurl", Url("/b.vpk"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(mTrace.Count("[Loader] Voa key not usable: not-a-key"), 1);
    EXPECT_TRUE(mTrace.Contains("[Loader] Voa signature accepted: release 6, key 2 (" + next.mPublic + ")"));
    const std::vector<HttpRequest> signatures = mServer.Requests("/b.vpk.sig");
    ASSERT_EQ(signatures.size(), 1u);
    EXPECT_EQ(signatures[0].Header("Host"), mServer.Requests("/b.vpk")[0].Header("Host"));
    EXPECT_EQ(signatures[0].Header("Host"), "127.0.0.1");
}

// A "voakey" without a usable key never accepts anything: every address is refused and no
// module file is touched.
TEST_F(SignedRunTest, VoakeyWithoutAUsableKeyRefusesEveryAddress) {
    ASSERT_TRUE(WriteNativeFile(Here("game.so"), "old module"));
    TestLoader loader;
    loader.Set("voakey", "AAAA| ");
    loader.Set("voaurl", Url("/b.vpk"));
    ASSERT_TRUE(Pump(loader, [&] {
        return mTrace.Count("[Loader] Voa signature not accepted (unknown key), try backup url: ") >= 3;
    }));
    EXPECT_EQ(loader.mState, LoaderStateHeader);
    // Refused signatures wait as refused headers do, rather than asking again on every update.
    EXPECT_GE(mTrace.Count("[Loader] Every package address refused its header, waiting "), 2);
    EXPECT_EQ(mTrace.Count("[Loader] Voa key not usable: AAAA"), 1);
    EXPECT_TRUE(mTrace.Contains("[Loader] Voa key given without a usable key"));
    EXPECT_EQ(ReadNativeFile(Here("game.so")), "old module");
    EXPECT_EQ(BlockRequests("/b.vpk"), 0);
}

// Module files are held to their signed SHA-256 as well as to the header's digest: an entry
// whose header digest is all zeros (taken as present without reading it otherwise) is read
// when signed, a damaged file of it is replaced, and a fetched block failing only the SHA-256 is
// fetched again.
TEST_F(SignedRunTest, ZeroDigestEntryIsHeldToItsSignedSha256OnDiskAndWhenFetched) {
    const Release zeroed = MakeRelease({{"game.so", RecordingModuleBytes()}, {"keep.bin", "signed data", kPackZlib, true}},
                                       [](PackageBuilder& builder) {
                                           std::memset(builder.Header().modules[1].digest, 0, 16);
                                       });
    mServer.Route("/z.vpk.sig", HttpPlan::Body(Sign(zeroed, 5, mPublisher.mKey)));
    PackageHeader header;
    ASSERT_TRUE(ReadPackageHeader(reinterpret_cast<const uint8_t*>(zeroed.mPackage.data()),
                                  VEXAL_HEADER_SIZE, header));
    const ModuleEntry& entry = header.modules[1];
    ASSERT_EQ(entry.size, 11u); // stored as it is
    const std::string range =
        "bytes=" + std::to_string(entry.offset) + "-" + std::to_string(entry.offset + entry.size - 1);
    // The first answer for the block holds other bytes of the same length.
    std::string tampered = zeroed.mPackage;
    std::memcpy(&tampered[entry.offset], "forged data", 11);
    auto forged = std::make_shared<std::atomic<int>>(0);
    const std::string genuine = zeroed.mPackage;
    mServer.Handle("/z.vpk", [forged, genuine, tampered, range](const HttpRequest& request, int) {
        if (request.Header("Range") == range && forged->fetch_add(1) == 0)
            return HttpPlan::Body(tampered);
        return HttpPlan::Body(genuine);
    });
    ASSERT_TRUE(WriteNativeFile(Here("keep.bin"), "damaged data"));

    TestLoader loader;
    loader.Set("voakey", mPublisher.mPublic);
    loader.Set("voaurl", Url("/z.vpk"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(ReadNativeFile(Here("keep.bin")), "signed data");
    EXPECT_EQ(mTrace.Count("[Loader] VOB(1) signed checksum not correct"), 1);
    EXPECT_EQ(mTrace.Count("[Loader] Download VOB(1) from url: "), 2);
    EXPECT_EQ(mTrace.Count("checksum not correct"), 1); // the header's digest was never the one failing

    // Intact files, zero digest included, are read and kept: nothing more is fetched.
    mServer.ClearLog();
    mTrace.Clear();
    TestLoader warm;
    warm.Set("voakey", mPublisher.mPublic);
    warm.Set("voaurl", Url("/z.vpk"));
    ASSERT_TRUE(Pump(warm, [&] { return warm.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(BlockRequests("/z.vpk"), 0);
}

// Keys that arrive after a header was accepted without them start the run again, so the package
// in use is judged like any other.
TEST_F(SignedRunTest, KeysArrivingAfterAnUnsignedHeaderStartTheRunAgain) {
    TestLoader loader;
    loader.Set("voaurl", Url("/b.vpk"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(mServer.RequestCount("/b.vpk.sig"), 0u);
    loader.Set("voakey", mPublisher.mPublic);
    EXPECT_EQ(loader.mState, LoaderStateHeader);
    EXPECT_EQ(loader.mModule.mLibrary, nullptr);
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(mServer.RequestCount("/b.vpk.sig"), 1u);
    EXPECT_TRUE(mTrace.Contains("[Loader] Voa signature accepted: release 5, key 1"));
}

// Another game of the same publisher, whole and correctly signed, served at this game's address:
// refused once the game is pinned, by "voagame" or by the game first accepted in the folder, so
// that its own (older) releases cannot pass this game's rollback record.
TEST_F(SignedRunTest, AnotherGameOfThePublisherIsRefusedOnceTheGameIsPinned) {
    const Release otherGame = MakeRelease({{"game.so", RecordingModuleBytes("recording_minimal")},
                                           {"level.dat", "other level"}},
                                          [](PackageBuilder& builder) { builder.SetCacheName(u"othergame"); });
    Serve("/a.vpk", otherGame.mPackage, Sign(otherGame, 1, mPublisher.mKey));
    // A signed run of this game, unpinned, to its module; the folder's record is written on a
    // worker, which has ended on return.
    const auto runThisGame = [&] {
        mTrace.Clear();
        bool created = false;
        {
            TestLoader loader;
            loader.Set("voakey", mPublisher.mPublic);
            loader.Set("voaurl", Url("/b.vpk"));
            created = Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; });
        }
        WaitForStoppedTransfers();
        return created;
    };
    ASSERT_TRUE(runThisGame());
    EXPECT_EQ(ReadNativeFile(Here("vexal-game")), "testgame\n");
    for (const char* pin : {"", "testgame"}) {
        SCOPED_TRACE(pin);
        if (pin[0] != 0)
            std::remove(Here("vexal-game").c_str());
        mTrace.Clear();
        TestLoader loader;
        loader.Set("voakey", mPublisher.mPublic);
        loader.Set("voagame", pin);
        loader.Set("voaurl", Url("/a.vpk") + "|" + Url("/b.vpk"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
        EXPECT_EQ(mTrace.Count("[Loader] Voa signature not accepted (other game), try backup url: " + Url("/b.vpk")), 1);
        EXPECT_EQ(ReadNativeFile(Here("level.dat")), "genuine level");
    }
    // With "voagame" the folder's record is neither needed nor written.
    WaitForStoppedTransfers();
    EXPECT_FALSE(FileExists(WideText(Here("vexal-game"))));

    // A record that cannot be read pins nothing and is reported at every run; it is written anew,
    // which a folder in its place prevents, and that is said at every run too.
    ASSERT_TRUE(std::filesystem::create_directory(Here("vexal-game")));
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(runThisGame());
        EXPECT_EQ(mTrace.Count("[Loader] Game record damaged, not used: "), 1);
        EXPECT_EQ(mTrace.Count("[Loader] Accepted game testgame not recorded: "), 1);
    }
    ASSERT_TRUE(std::filesystem::remove(Here("vexal-game")));
    ASSERT_TRUE(WriteNativeFile(Here("vexal-game"), "studio/game\n"));
    ASSERT_TRUE(runThisGame());
    EXPECT_EQ(mTrace.Count("[Loader] Game record damaged, not used: "), 1);
    EXPECT_EQ(ReadNativeFile(Here("vexal-game")), "testgame\n");
}

// A block whose declared unpacked size is not the signed size is refused before it is unpacked,
// so a small block cannot make the loader allocate and decode what it merely declares; the
// genuine block fetched next is taken.
TEST_F(SignedRunTest, BlockDeclaringAnotherSizeThanSignedIsRefusedBeforeUnpacking) {
    PackageHeader header;
    ASSERT_TRUE(ReadPackageHeader(reinterpret_cast<const uint8_t*>(mGenuine.mPackage.data()), VEXAL_HEADER_SIZE,
                                  header));
    const ModuleEntry& entry = header.modules[1];
    const std::string range =
        "bytes=" + std::to_string(entry.offset) + "-" + std::to_string(entry.offset + entry.size - 1);
    std::string swollen = mGenuine.mPackage;
    const uint32_t declared = 1u << 30;
    std::memcpy(&swollen[entry.offset + kPackedSizeOffset], &declared, 4);
    auto served = std::make_shared<std::atomic<int>>(0);
    const std::string genuine = mGenuine.mPackage;
    mServer.Handle("/b.vpk", [served, genuine, swollen, range](const HttpRequest& request, int) {
        if (request.Header("Range") == range && served->fetch_add(1) == 0)
            return HttpPlan::Body(swollen);
        return HttpPlan::Body(genuine);
    });
    TestLoader loader;
    loader.Set("voakey", mPublisher.mPublic);
    loader.Set("voaurl", Url("/b.vpk"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(mTrace.Count("[Loader] VOB(1) block unpacks to 1073741824 bytes, 13 signed: not unpacked"), 1);
    EXPECT_EQ(mTrace.Count("Decompress"), 0);
    EXPECT_EQ(ReadNativeFile(Here("level.dat")), "genuine level");
}
