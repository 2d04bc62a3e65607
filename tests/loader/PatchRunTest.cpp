// Updates by patch: an outdated cached file rebuilt from the package's delta file, and every way
// a delta file can fail, each ending in the block without a wait.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>

#include "LoaderHarness.h"
#include "Source/Common/DeltaFile.h"
#include "Source/Common/Digest.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Platform/File.h"
#include "Source/Platform/WebDownload.h"

namespace {

// Content that does not compress, so that the block is about as large as the file.
std::string Noise(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x >> 11);
    }
    return out;
}

Digest DigestOf(const std::string& bytes) { return ComputeDigest(bytes.data(), bytes.size()); }

// A delta file with one patch of data.bin from `from` to `to`, made from `reference` (the
// cached content unless told); adjust may change the record before the index is written.
std::string MakeDelta(const std::string& from, const std::string& to, const std::string* reference = nullptr,
                      const std::function<void(DeltaPatch&)>& adjust = nullptr) {
    const std::string& base = reference != nullptr ? *reference : from;
    Buffer patch;
    EXPECT_TRUE(MakePatch(reinterpret_cast<const uint8_t*>(base.data()), uint32_t(base.size()),
                          reinterpret_cast<const uint8_t*>(to.data()), uint32_t(to.size()), 3, patch));
    Array<DeltaPatch> patches;
    DeltaPatch record = {};
    const std::u16string name = u"data.bin";
    name.copy(record.fileName, name.size());
    record.oldDigest = DigestOf(from);
    record.newDigest = DigestOf(to);
    record.offset = kDeltaPreambleSize + kDeltaRecordSize;
    record.size = patch.GetSize();
    record.newSize = uint32_t(to.size());
    if (adjust)
        adjust(record);
    patches.Append(record);
    Buffer index;
    EXPECT_TRUE(WriteDeltaIndex(patches, index));
    return std::string(reinterpret_cast<const char*>(index.GetData()), index.GetSize()) +
           std::string(reinterpret_cast<const char*>(patch.GetData()), patch.GetSize());
}

class PatchTest : public LoaderTest {
protected:
    void SetUp() override {
        LoaderTest::SetUp();
        mOld = Noise(300000, 7);
        mNew = mOld;
        mNew.replace(150000, 100, Noise(100, 99));
        mPackage = ServeGamePackage({{"data.bin", mNew, kPackLzma}});
        ASSERT_TRUE(WriteNativeFile(Here("game.so"), RecordingModuleBytes()));
        ASSERT_TRUE(WriteNativeFile(Here("data.bin"), mOld));
    }

    // Runs the loader on /pkg, with the settings given before the address, to the module's
    // creation; the milliseconds it took.
    long Run(const std::vector<std::pair<std::string, std::string>>& settings = {}) {
        const auto start = std::chrono::steady_clock::now();
        TestLoader loader;
        loader.Set("voatimeout", "1500");
        for (const auto& [name, value] : settings)
            loader.Set(name, value);
        loader.Set("voaurl", Url("/pkg"));
        EXPECT_TRUE(Pump(
            loader, [&] { return loader.mState == LoaderStateModuleCreated; }, 20000));
        return long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                        .count());
    }

    std::vector<std::string> Ranges(const std::string& path) const {
        std::vector<std::string> ranges;
        for (const HttpRequest& request : mServer.Requests(path))
            ranges.push_back(request.Header("Range"));
        return ranges;
    }

    std::string mOld, mNew, mPackage;
};

} // namespace

// Signed or not, the patched content passes the checks a block's would (in a signed run its
// signed SHA-256: the patch needs no signature of its own), and the delta file travels like the
// package, CDN Host header included.
TEST_F(PatchTest, OutdatedFileIsRebuiltByteExactFromItsPatchAlone) {
    const std::string delta = MakeDelta(mOld, mNew);
    Publisher publisher;
    mServer.Route("/pkg.sig", HttpPlan::Body(Sign({mPackage, {RecordingModuleBytes(), mNew}}, 1, publisher.mKey)));
    // The cached file is still the old one while the patch is asked for.
    std::atomic<bool> untouched{false};
    mServer.Handle("/pkg.delta", [&](const HttpRequest& request, int) {
        if (request.Header("Range") != "bytes=0-31" && request.Header("Range") != "bytes=32-143")
            untouched = ReadNativeFile(Here("data.bin")) == mOld;
        return HttpPlan::Body(delta);
    });
    const uint32_t patchSize = uint32_t(delta.size() - kDeltaPreambleSize - kDeltaRecordSize);
    PackageHeader header;
    ASSERT_TRUE(ReadPackageHeader(reinterpret_cast<const uint8_t*>(mPackage.data()), 1132, header));
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> settings;
    };
    const std::vector<Case> cases = {
        {"unsigned", {}},
        {"signed, through a CDN address",
         {{"cdnip", "localhost"}, {"voakey", publisher.mPublic}, {"voagame", "testgame"}}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        mTrace.Clear();
        mServer.ClearLog();
        untouched = false;
        ASSERT_TRUE(WriteNativeFile(Here("data.bin"), mOld));
        Run(each.settings);

        EXPECT_TRUE(ReadNativeFile(Here("data.bin")) == mNew);
        EXPECT_TRUE(untouched);
        EXPECT_EQ(mTrace.Count("[Loader] VOB(1) patched: " + std::to_string(patchSize) + " bytes instead of " +
                               std::to_string(header.modules[1].size)),
                  1);
        // The preamble, the records, the patch: the index is asked for once, and no block at all.
        EXPECT_EQ(Ranges("/pkg.delta"), (std::vector<std::string>{"bytes=0-31", "bytes=32-143",
                                                                  "bytes=144-" + std::to_string(delta.size() - 1)}));
        EXPECT_EQ(Ranges("/pkg"), (std::vector<std::string>{"bytes=0-1131"}));
        for (const HttpRequest& request : mServer.Requests("/pkg.delta"))
            EXPECT_EQ(request.Header("Host"), mServer.Requests("/pkg")[0].Header("Host"));
    }
    EXPECT_TRUE(mTrace.Contains("[Loader] Voa signature accepted: release 1, key 1"));
    EXPECT_EQ(mServer.Requests("/pkg")[0].Header("Host"), "127.0.0.1");
    WaitForStoppedTransfers(); // the accepted release is recorded on a worker
    std::remove(ReleaseFile().c_str());
}

TEST_F(PatchTest, EveryFailingDeltaFileEndsInTheBlockWithoutAWait) {
    const std::string good = MakeDelta(mOld, mNew);
    std::string damaged = good;
    damaged[40] ^= 0x20; // a record's byte: the index no longer matches its digest
    const std::string lyingSize = MakeDelta(mOld, mNew, nullptr, [](DeltaPatch& patch) { patch.newSize += 1; });
    const std::string lyingRange = MakeDelta(mOld, mNew, nullptr, [](DeltaPatch& patch) { patch.size -= 1; });
    // A patch made from other content than the index names: it copies bytes the cached file
    // does not hold where they should be.
    const std::string otherBase = mNew.substr(0);
    const std::string wrongPatch = MakeDelta(mOld, mNew, &otherBase);
    struct Case {
        const char* name;
        HttpPlan plan;
        const char* line;
        long mostMs;
    };
    const std::vector<Case> cases = {
        {"not served", HttpPlan::Error(404), "[Loader] Delta file not used, fetching blocks: no answer from ", 1500},
        {"never arrives", HttpPlan::Body(good).Silent(), "[Loader] Delta file not used, fetching blocks: no answer from ",
         4000},
        {"damaged index", HttpPlan::Body(damaged), "[Loader] Delta file not used, fetching blocks: its index is damaged",
         1500},
        {"lying new size", HttpPlan::Body(lyingSize), "[Loader] VOB(1) patch not used (does not apply)", 1500},
        {"lying patch size", HttpPlan::Body(lyingRange), "[Loader] VOB(1) patch not used (does not apply)", 1500},
        {"wrong patch", HttpPlan::Body(wrongPatch), "[Loader] VOB(1) patch not used (checksum)", 1500},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        mTrace.Clear();
        mServer.ClearLog();
        ASSERT_TRUE(WriteNativeFile(Here("data.bin"), mOld));
        // Whenever the delta file is asked for, the cached file still holds its old content: the
        // file a patch starts from is not given up before the patch has failed.
        std::atomic<int> asked{0}, old{0};
        mServer.Handle("/pkg.delta", [&, plan = each.plan](const HttpRequest&, int) {
            old += ReadNativeFile(Here("data.bin")) == mOld ? 1 : 0;
            ++asked;
            return plan;
        });
        const long ms = Run();
        EXPECT_GT(asked, 0);
        EXPECT_EQ(old, asked);
        EXPECT_TRUE(ReadNativeFile(Here("data.bin")) == mNew);
        EXPECT_EQ(mTrace.Count(each.line), 1);
        EXPECT_FALSE(mTrace.Contains("patched:"));
        EXPECT_EQ(Ranges("/pkg").size(), 2u) << "the header and the block of data.bin";
        EXPECT_LT(ms, each.mostMs);
    }
}
