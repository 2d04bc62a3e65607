// Whole runs: header fetch and its fall-backs, the module pipeline and its cache, loading.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include "LoaderHarness.h"
#include "Source/Common/Digest.h"
#include "Source/Common/RetryWait.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/Process.h"
#include "Source/Common/PackageFormat.h"

namespace {

// Names whose deletion the tests refuse, as a file held by another process would be refused.
std::set<std::string> gUndeletable;

} // namespace

#ifdef _WIN32
namespace {

// On Windows a file that another program holds open without sharing its deletion cannot be
// deleted: the real case. A handle of this process has the same effect on the engine's calls.
class HeldFiles {
public:
    void Hold(const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
            if (handle != INVALID_HANDLE_VALUE) mHandles.push_back(handle);
        }
    }
    void Release() {
        for (HANDLE handle : mHandles) CloseHandle(handle);
        mHandles.clear();
    }
    ~HeldFiles() { Release(); }

private:
    std::vector<HANDLE> mHandles;
};

} // namespace
#else
// Calls to unlink from the engine resolve here first.
extern "C" int unlink(const char* path) {
    const char* name = std::strrchr(path, '/');
    name = name != nullptr ? name + 1 : path;
    if (gUndeletable.count(name) != 0) {
        errno = EACCES;
        return -1;
    }
    static auto real = reinterpret_cast<int (*)(const char*)>(dlsym(RTLD_NEXT, "unlink"));
    return real(path);
}
#endif

namespace {

bool IsBlockRequest(const HttpRequest& request) {
    const std::string range = request.Header("Range");
    return !range.empty() && range != "bytes=0-1131";
}

int BlockRequests(const HttpTestServer& server, const std::string& path) {
    int count = 0;
    for (const HttpRequest& request : server.Requests(path))
        count += IsBlockRequest(request) ? 1 : 0;
    return count;
}

} // namespace

TEST_F(LoaderTest, DirectVoaUrlRunsToTheHandOff) {
    const std::string package = ServeGamePackage({{"data/level.bin", std::string(50000, 'L'), kPackLzma}});
    TestLoader loader;
    loader.Set("voaparam", "a|b||");
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateHandedOver; }));

    EXPECT_EQ(ReadNativeFile(Here("game.so")), RecordingModuleBytes());
    EXPECT_EQ(ReadNativeFile(Here("data/level.bin")), std::string(50000, 'L'));
    EXPECT_EQ(NarrowText(loader.mModuleFileName), "game.so");
    EXPECT_EQ(loader.mReleaseCalls, 1);
    EXPECT_EQ(loader.mPackageHandle, nullptr);
    // Module progress 0.5 shows as 0.4 + 0.6 x 0.5; the counts are the module's.
    EXPECT_FLOAT_EQ(loader.mProgress, 0.7f);
    EXPECT_EQ(loader.mResCount, 7);
    EXPECT_EQ(loader.mFinishCount, 3);
    EXPECT_EQ(loader.mSpeed, 42.0f);

    const std::vector<std::string> journal = Journal();
    ASSERT_GE(journal.size(), 3u);
    EXPECT_EQ(journal[0], "create window=0 magic=0f0a0f0a cache=testgame reserved=0");
    EXPECT_EQ(journal[1], "url " + Url("/pkg"));
    EXPECT_EQ(journal[2], "config a|b");
    EXPECT_EQ(JournalCount("version"), 0); // looked up, never called
    EXPECT_EQ(JournalCount("external"), 0);

    // The header range, then one range per block.
    const std::vector<HttpRequest> requests = mServer.Requests("/pkg");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].Header("Range"), "bytes=0-1131");
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 2);
    EXPECT_TRUE(mTrace.Contains("[Loader] Download VOB(0) from url: " + Url("/pkg")));
    EXPECT_TRUE(mTrace.Contains("[Loader] Download VOB(1) from url: " + Url("/pkg")));
}

TEST_F(LoaderTest, HeadersOfVersionsOtherThanTwoAreReadWithoutTheirKey) {
    // Every version but 2 stores no key: the header is 1116 bytes and the package 16 bytes
    // shorter, which the size the server reports must match.
    for (const uint32_t version : {1u, 0u, 3u}) {
        SCOPED_TRACE(version);
        mTrace.Clear();
        std::remove(Here("x.dat").c_str());
        PackageHeader header;
        const std::string package =
            MakePackage({{"game.so", RecordingModuleBytes()}, {"x.dat", "xyz", kPackZlib}}, version, &header);
        mServer.Route("/pkg", HttpPlan::Body(package));
        TestLoader loader;
        loader.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
        EXPECT_EQ(loader.mHeader.version, version);
        EXPECT_EQ(package.size(), size_t(ExpectedPackageSize(loader.mHeader)));
        EXPECT_EQ(ReadNativeFile(Here("x.dat")), "xyz");
        EXPECT_FALSE(mTrace.Contains("not correct"));
    }
}

TEST_F(LoaderTest, BadHeadersFallBackToTheNextAddress) {
    const std::string good = ServeGamePackage();
    std::string badMagic = good;
    badMagic[0] = 0x0B;
    std::string badKey = good;
    badKey[140] ^= 0x55;
    std::string unsafe = MakePackage({{"../escape.so", "evil"}});
    std::string absolute = MakePackage({{"ok.so", "fine"}, {"/tmp/abs.so", "evil"}});
    std::string padded = good + "tail"; // the server reports 4 bytes more than the header adds up
    mServer.Route("/magic", HttpPlan::Body(badMagic));
    mServer.Route("/key", HttpPlan::Body(badKey));
    mServer.Route("/short", HttpPlan::Body(good.substr(0, 1000)));
    mServer.Route("/whole", HttpPlan::Body(good).IgnoreRanges());
    mServer.Route("/unsafe", HttpPlan::Body(unsafe));
    mServer.Route("/absolute", HttpPlan::Body(absolute));
    mServer.Route("/padded", HttpPlan::Body(padded));

    TestLoader loader;
    loader.Set("voatimeout", "60000"); // only the checks may move on
    loader.Set("voaurl", Url("/magic") + "|" + Url("/key") + "|" + Url("/short") + "|" + Url("/whole") +
                             "|" + Url("/unsafe") + "|" + Url("/absolute") + "|" + Url("/padded") +
                             "|" + Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(loader.mUrlIndex, 7u);

    EXPECT_EQ(mTrace.Count("[Loader] The magic code in header is not correct: 0xf0a0f0b"), 1);
    EXPECT_EQ(mTrace.Count("[Loader] The key in header is not correct: "), 1);
    EXPECT_EQ(mTrace.Count("[Loader] Voa header size not correct, try backup url: " + Url("/whole")), 1);
    EXPECT_EQ(mTrace.Count("[Loader] Voa header size not correct, try backup url: " + Url("/unsafe")), 1);
    EXPECT_EQ(mTrace.Count("[Loader] Unsafe VOB file name in header: ../escape.so"), 1);
    EXPECT_EQ(mTrace.Count("[Loader] Unsafe VOB file name in header: /tmp/abs.so"), 1);
    EXPECT_EQ(mTrace.Count("[Loader] The voa size returned is not correct: " +
                           std::to_string(padded.size()) + ", " + std::to_string(good.size()) +
                           " expected"),
              1);
    EXPECT_EQ(mTrace.Count("[Loader] Voa not correct, try backup url: "), 5);
    EXPECT_EQ(mTrace.Count("[Loader] Voa not correct, try backup url: " + Url("/pkg")), 1);
    // Nothing of the rejected packages reached the disk.
    EXPECT_FALSE(FileExists(u"ok.so"));
    EXPECT_EQ(ReadNativeFile("/tmp/abs.so"), "");
}

// A package of 2.25 GiB, made by the server on the fly: a module block past 2^31 is asked for
// once, with its exact range, and written byte for byte.
TEST_F(LoaderTest, ModuleBlockPastTwoGibibytesIsFetchedWithItsExactRange) {
    const std::string big(20000, 'B');
    uint64_t gap = 0;
    const uint64_t bigOffset = 0x90000000ull;
    PackageHeader header;
    const std::string stored = MakePackage(
        {{"game.so", RecordingModuleBytes()}, {"@filler", "", kPackZlib, false, true}, {"big.dat", big, kPackZlib}, {"@tail", "", kPackZlib, false, true}},
        2, &header, [&](PackageBuilder& builder) {
            // The filler entry's size stands for the gigabytes between, the tail for bytes after.
            PackageHeader& adjusted = builder.Header();
            gap = bigOffset - adjusted.modules[2].offset;
            adjusted.modules[1].size = uint32_t(gap);
            adjusted.modules[2].offset = uint32_t(bigOffset);
            adjusted.modules[3].size = 4096;
        });
    const uint64_t blockSize = header.modules[2].size;
    const uint64_t storedBlock = bigOffset - gap;
    const uint64_t total = uint64_t(stored.size()) + gap + 4096;
    ASSERT_EQ(total, uint64_t(ExpectedPackageSize(header)));
    mServer.Route("/pkg", HttpPlan::Generated(total, [=](uint64_t offset, char* out, size_t count) {
                      for (size_t i = 0; i < count; ++i) {
                          const uint64_t at = offset + i;
                          if (at < storedBlock)
                              out[i] = stored[size_t(at)];
                          else if (at >= bigOffset && at < bigOffset + blockSize)
                              out[i] = stored[size_t(at - gap)];
                          else
                              out[i] = 0;
                      }
                  }));
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(
        loader, [&] { return loader.mState == LoaderStateModuleCreated; }, 20000));
    EXPECT_EQ(ReadNativeFile(Here("big.dat")), big);
    const std::string range =
        "bytes=" + std::to_string(bigOffset) + "-" + std::to_string(bigOffset + blockSize - 1);
    int asked = 0;
    for (const HttpRequest& request : mServer.Requests("/pkg"))
        asked += request.Header("Range").rfind("bytes=" + std::to_string(bigOffset), 0) == 0 ? 1 : 0;
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 2);
    bool exact = false;
    for (const HttpRequest& request : mServer.Requests("/pkg"))
        exact = exact || request.Header("Range") == range;
    EXPECT_TRUE(exact) << range;
    EXPECT_FALSE(mTrace.Contains("not correct"));
}

// The size probe runs beside the host's thread: the header step holds in state 3 at 0.1 until
// it answers, however late within the header time-out, and a wrong length is then refused. Past
// the header time-out the size goes unchecked, with a line saying so.
TEST_F(LoaderTest, SizeProbeIsAwaitedUpToTheHeaderTimeOut) {
    const std::string good = ServeGamePackage();
    // The probe is the one request without a range: its answer comes after 3 s, 4 bytes too long.
    // The header's answer names no total, so the probe runs.
    mServer.Handle("/late", [good](const HttpRequest& request, int) {
        if (!request.HasHeader("Range"))
            return HttpPlan::Body(good + "tail").DelayHead(3000);
        if (request.Header("Range") == "bytes=0-1131")
            return HttpPlan::PartWithoutTotal(good.substr(0, 1132));
        return HttpPlan::Body(good);
    });
    auto probes = [&] {
        int count = 0;
        for (const HttpRequest& request : mServer.Requests("/late"))
            count += request.HasHeader("Range") ? 0 : 1;
        return count;
    };
    {
        TestLoader loader;
        loader.Set("voaurl", Url("/late") + "|" + Url("/pkg"));
        ASSERT_TRUE(Pump(loader, [&] { return probes() == 1; }));
        for (int i = 0; i < 5; ++i)
            loader.Update(16);
        EXPECT_EQ(loader.mState, LoaderStateHeader);
        EXPECT_FLOAT_EQ(loader.mProgress, 0.1f);
        ASSERT_TRUE(Pump(
            loader, [&] { return loader.mState == LoaderStateModuleCreated; }, 20000));
        EXPECT_EQ(mTrace.Count("[Loader] The voa size returned is not correct: " + std::to_string(good.size() + 4) +
                               ", " + std::to_string(good.size()) + " expected"),
                  1);
        EXPECT_EQ(loader.mUrlIndex, 1u);
    }
    mTrace.Clear();
    std::remove(Here("game.so").c_str());
    {
        TestLoader loader;
        loader.Set("voatimeout", "1000");
        loader.Set("voaurl", Url("/late"));
        ASSERT_TRUE(Pump(
            loader, [&] { return loader.mState == LoaderStateModuleCreated; }, 20000));
        EXPECT_EQ(mTrace.Count("[Loader] Voa size not checked: no answer headers within 1000 ms from " + Url("/late")), 1);
        EXPECT_FALSE(mTrace.Contains("not correct"));
    }
}

TEST_F(LoaderTest, SilentAddressTimesOutWithoutResettingOnFallBack) {
    const std::string good = ServeGamePackage();
    mServer.Route("/silent", HttpPlan::Body(good).Silent());
    TestLoader loader;
    // Long enough that the good address never times out, even in a sanitizer build.
    loader.Set("voatimeout", "1500");
    loader.Set("voaurl", Url("/silent") + "|" + Url("/silent") + "|" + Url("/pkg"));
    const uint32_t started = loader.mLastAttemptTime;
    EXPECT_FLOAT_EQ((loader.Update(0), loader.mProgress), 0.01f);
    ASSERT_TRUE(Pump(
        loader, [&] { return loader.mUrlIndex == 1; }, 8000, 0));
    // The update that switched shows the second address.
    EXPECT_FLOAT_EQ(loader.mProgress, 0.02f);
    EXPECT_GE(loader.mLastAttemptTime - started, 1500u);
    EXPECT_EQ(mTrace.Count("[Loader] Download voa header failed, try backup url: " + Url("/silent")), 1);
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(mTrace.Count("[Loader] Download voa header failed, try backup url: " + Url("/pkg")), 1);
}

// A package cut short on its server: its header passes, its size does not. Once every address
// has refused, each attempt waits first, 1 s doubling up to a minute: over 30 s one client asks a
// handful of times and its trace log stays small. A package mended during a wait is taken at the
// end of that wait.
TEST_F(LoaderTest, RefusedHeadersAreRetriedAfterGrowingWaitsAndAMendedPackageIsTaken) {
    // 1 s doubling to 60 s, never more, and at most a quarter less.
    EXPECT_EQ(RetryWaitMs(0, 0), 1000u);
    EXPECT_EQ(RetryWaitMs(4, 0), 16000u);
    EXPECT_EQ(RetryWaitMs(6, 0), 60000u);
    EXPECT_EQ(RetryWaitMs(40, 0), 60000u);
    EXPECT_EQ(RetryWaitMs(0, 250), 750u);
    EXPECT_EQ(RetryWaitMs(0, 251), 1000u);
    EXPECT_EQ(RetryWaitMs(40, 15000), 45000u);

    const std::string good = ServeGamePackage();
    const std::string cut = good.substr(0, good.size() - 100);
    auto mended = std::make_shared<std::atomic<bool>>(false);
    auto serve = [good, cut, mended](const HttpRequest&, int) { return HttpPlan::Body(*mended ? good : cut); };
    mServer.Handle("/cut", serve);
    mServer.Handle("/mend", serve);
    auto headerRequests = [&](const std::string& path) {
        int count = 0;
        for (const HttpRequest& request : mServer.Requests(path))
            count += request.Header("Range") == "bytes=0-1131" ? 1 : 0;
        return count;
    };
    {
        TestLoader loader;
        OpenLogFiles(u"loader", u"", u"hammer");
        loader.Set("voaurl", Url("/cut"));
        Pump(
            loader, [] { return false; }, 30000);
        CloseLogFiles();
        TraceCapture::Reinstall();
        EXPECT_EQ(loader.mState, LoaderStateHeader);
        const int requests = headerRequests("/cut");
        const size_t logBytes = ReadNativeFile(Here("hammer-loader-[Trace].log")).size();
        std::printf("30 s of refused headers: %d header requests, trace log %zu bytes\n", requests, logBytes);
        EXPECT_GE(requests, 3);
        EXPECT_LE(requests, 15);
        EXPECT_LT(logBytes, 16u * 1024);
    }

    mTrace.Clear();
    TestLoader loader;
    loader.Set("voaurl", Url("/mend"));
    // The second refusal starts a wait of up to 2 s; the package is mended during it.
    ASSERT_TRUE(Pump(loader, [&] { return mTrace.Count("[Loader] Every package address refused its header") == 2; }));
    loader.Update(16);
    EXPECT_FLOAT_EQ(loader.mProgress, 0.01f); // one address, nothing flowing
    *mended = true;
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState >= LoaderStateModules; }));
    EXPECT_EQ(headerRequests("/mend"), 3);
    EXPECT_EQ(mTrace.Count("[Loader] Voa not correct, try backup url: " + Url("/mend")), 2);
}

TEST_F(LoaderTest, IntactCacheDownloadsNothingAndLoadsInTheHeaderUpdate) {
    ServeGamePackage({{"data.bin", std::string(3000, 'd')}});
    {
        TestLoader first;
        first.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(first, [&] { return first.mState == LoaderStateModuleCreated; }));
    }
    mServer.ClearLog();
    TestLoader second;
    second.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(second, [&] { return second.mState != LoaderStateHeader; }));
    EXPECT_EQ(second.mState, LoaderStateModuleCreated);
    EXPECT_EQ(second.mFinishSize, 0);
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 0);
    EXPECT_EQ(JournalCount("create"), 2);
    EXPECT_EQ(JournalCount("delete"), 1);
}

TEST_F(LoaderTest, DamagedBlockIsFetchedAgainWithItsChecksumLine) {
    PackageHeader header;
    const std::string package = MakePackage({{"game.so", RecordingModuleBytes()}}, 2, &header);
    std::string damaged = package;
    damaged[header.modules[0].offset + header.modules[0].size / 2] ^= 0x01;
    std::atomic<int> blockRequests{0};
    mServer.Handle("/pkg", [&](const HttpRequest& request, int) {
        if (IsBlockRequest(request) && ++blockRequests <= 2)
            return HttpPlan::Body(blockRequests == 1 ? damaged : std::string(package.size(), 'x'));
        return HttpPlan::Body(package);
    });
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    // A damaged stream fails to unpack or gives the wrong digest; a plain wrong block gives the
    // wrong digest. Either way the same block is asked for again.
    EXPECT_EQ(mTrace.Count("[Loader] Decompress VOB(0) failed") +
                  mTrace.Count("[Loader] VOB(0) checksum not correct: "),
              2);
    EXPECT_EQ(mTrace.Count("[Loader] Download VOB(0) from url: "), 3);
    EXPECT_EQ(ReadNativeFile(Here("game.so")), RecordingModuleBytes());
    // Each refused block waits before it is asked for again, as a refused header does.
    EXPECT_EQ(mTrace.Count("[Loader] VOB(0) fetched again in "), 2);
}

// A mirror that serves the genuine header but a wrong block is asked for that block twice, then
// the next address serves it; the address that cannot answer a block at all (404) is left the
// same way.
TEST_F(LoaderTest, MirrorServingAWrongBlockIsLeftAfterTwoFailures) {
    PackageHeader header;
    const std::string package = MakePackage({{"game.so", RecordingModuleBytes()}}, 2, &header);
    std::string lying = package;
    lying[header.modules[0].offset + header.modules[0].size / 2] ^= 0x01;
    mServer.Route("/pkg", HttpPlan::Body(package));
    mServer.Route("/lying", HttpPlan::Body(lying));
    mServer.Handle("/gone", [&](const HttpRequest& request, int) {
        return IsBlockRequest(request) ? HttpPlan::Error(404, "gone") : HttpPlan::Body(package);
    });
    TestLoader loader;
    loader.Set("voaurl", Url("/lying") + "|" + Url("/gone") + "|" + Url("/pkg"));
    ASSERT_TRUE(Pump(
        loader, [&] { return loader.mState == LoaderStateModuleCreated; }, 20000));
    EXPECT_EQ(BlockRequests(mServer, "/lying"), 2);
    EXPECT_EQ(BlockRequests(mServer, "/gone"), 2);
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 1);
    EXPECT_EQ(mTrace.Count("[Loader] VOB(0) address refuses the download: " + Url("/gone")), 2);
    EXPECT_EQ(ReadNativeFile(Here("game.so")), RecordingModuleBytes());
}

// A block that was fetched and checked but cannot be written stays in memory and is written
// again after a wait: the server is not asked again, and the trace says what the system refused.
TEST_F(LoaderTest, BlockThatCannotBeWrittenIsKeptAndWrittenAgainWithoutAnotherFetch) {
    const std::string level(60000, 'L');
    ServeGamePackage({{"data/level.txt", level}});
    // A file where the module's folder belongs: the block cannot be written below it.
    ASSERT_TRUE(WriteNativeFile(Here("data"), "in the way"));
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
#ifdef _WIN32
    // The file fails for want of its folder, so the folder's cause is told: a file already
    // stands at the folder's name (FormatMessage's text for that error).
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, ERROR_ALREADY_EXISTS, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = text != nullptr ? text : "";
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
        words.pop_back();
#else
    const std::string words = "Not a directory";
#endif
    ASSERT_TRUE(Pump(loader, [&] { return mTrace.Count("[Loader] VOB(1) not written (" + words + ")") == 2; }))
        << words;
    EXPECT_EQ(mTrace.Count("[Loader] Create VOB(1) file failed: data/level.txt"), 2);
    ASSERT_EQ(std::remove(Here("data").c_str()), 0);
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 2); // the game module's block and this one, once
    EXPECT_EQ(ReadNativeFile(Here("data/level.txt")), level);
}

// Addresses that can never give the header (an unknown scheme, a malformed address, a 401, 403,
// 404 or 410) are left at once rather than after the header time-out; an address that sends
// nothing counts as refused at its time-out, so a lone silent address is asked again only after
// growing waits.
TEST_F(LoaderTest, AddressesThatCanNeverAnswerAreLeftAtOnceAndTimeOutsAreCountedAsRefusals) {
    ServeGamePackage();
    const std::vector<int> answers = {401, 403, 404, 410};
    for (int status : answers)
        mServer.Route("/" + std::to_string(status), HttpPlan::Error(status, "never"));
    HttpTestServer closed;
    ASSERT_TRUE(closed.Start());
    const std::string refused = closed.Url("/pkg");
    closed.Stop();
    {
        std::string urls = refused + "|htp://127.0.0.1/pkg|http://[127.0.0.1/pkg";
        for (int status : answers)
            urls += "|" + Url("/" + std::to_string(status));
        TestLoader loader;
        loader.Set("voatimeout", "60000");
        loader.Set("voaurl", urls + "|" + Url("/pkg"));
        ASSERT_TRUE(Pump(
            loader, [&] { return loader.mState == LoaderStateModuleCreated; }, 10000));
        EXPECT_EQ(mTrace.Count("[Loader] Voa header address refuses the download: "), 7);
        for (int status : answers)
            EXPECT_EQ(mServer.RequestCount("/" + std::to_string(status)), 1u) << status;
    }
    mServer.Route("/silent", HttpPlan::Body("never").Silent());
    TestLoader loader;
    loader.Set("voatimeout", "300");
    loader.Set("voaurl", Url("/silent"));
    Pump(
        loader, [] { return false; }, 3000);
    EXPECT_GE(mTrace.Count("[Loader] Every package address refused its header"), 1);
    EXPECT_LE(mServer.RequestCount("/silent"), 3u);
}

// The files already on disk are checked in one update, two at a time: whatever lies before or
// after a missing or damaged file, exactly those files are fetched, in the header's order, and
// every intact file is left alone.
TEST_F(LoaderTest, MixedCacheFetchesOnlyTheMissingAndDamagedFilesInOrder) {
    std::vector<TestModule> data;
    for (int i = 1; i <= 5; ++i)
        data.push_back({std::string("m") + std::to_string(i) + ".bin", std::string(300000 + 1000 * i, char('a' + i))});
    ServeGamePackage(data);
    {
        TestLoader first;
        first.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(first, [&] { return first.mState == LoaderStateModuleCreated; }));
    }
    // Entries 1 and 4 damaged, entry 3 missing; the game module and entries 2 and 5 intact.
    ASSERT_TRUE(WriteNativeFile(Here("m1.bin"), "damaged"));
    ASSERT_EQ(::unlink(Here("m3.bin").c_str()), 0);
    ASSERT_TRUE(WriteNativeFile(Here("m4.bin"), std::string(304000, 'x')));
    mServer.ClearLog();
    mTrace.Clear();

    TestLoader second;
    second.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(second, [&] { return second.mState == LoaderStateModuleCreated; }));
    std::vector<std::string> downloads;
    for (const std::string& line : mTrace.Lines()) {
        const size_t at = line.find("[Loader] Download VOB(");
        if (at != std::string::npos)
            downloads.push_back(line.substr(at + 22, 1));
    }
    EXPECT_EQ(downloads, (std::vector<std::string>{"1", "3", "4"}));
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 3);
    for (const TestModule& module : data)
        EXPECT_EQ(ReadNativeFile(Here(module.name)), module.content) << module.name;
}

TEST_F(LoaderTest, ChecksumLineNamesBothDigests) {
    PackageHeader header;
    const std::string package = MakePackage({{"game.so", RecordingModuleBytes(), kPackZlib, true}}, 2, &header);
    std::string damaged = package;
    damaged[header.modules[0].offset] ^= 0x01;
    std::atomic<int> blockRequests{0};
    mServer.Handle("/pkg", [&](const HttpRequest& request, int) {
        return HttpPlan::Body(IsBlockRequest(request) && ++blockRequests == 1 ? damaged : package);
    });
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    std::string bytes = RecordingModuleBytes();
    bytes[0] ^= 0x01;
    const std::string actual = NarrowText(DigestToText(ComputeDigest(bytes.data(), bytes.size())));
    const std::string expected = NarrowText(DigestToText(DigestFromWords(header.modules[0].digest)));
    EXPECT_EQ(mTrace.Count("[Loader] VOB(0) checksum not correct: " + actual + ", " + expected + " expected"), 1);
}

TEST_F(LoaderTest, EntriesWithoutFilesAndZeroDigestsAreNeverFetched) {
    PackageHeader header;
    const std::string package = MakePackage(
        {{"@skin", "", kPackZlib, false, true}, {"game.so", RecordingModuleBytes()}, {"nodigest.bin", "n"}},
        2, &header, [](PackageBuilder& builder) {
            std::memset(builder.Header().modules[2].digest, 0, 16);
            builder.Header().modules[0].size = 100; // an "@" entry's size still counts
        });
    (void)header;
    mServer.Route("/pkg", HttpPlan::Body(package + std::string(100, '@')));
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(NarrowText(loader.mModuleFileName), "game.so"); // the first entry with a file
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 1);
    EXPECT_FALSE(FileExists(u"nodigest.bin"));
    EXPECT_EQ(uint32_t(loader.mResSize), 100 + loader.mHeader.modules[1].size + loader.mHeader.modules[2].size);
}

TEST_F(LoaderTest, ZeroDigestEntryKeepsAnExistingFile) {
    const std::string package = MakePackage({{"game.so", RecordingModuleBytes()}, {"keep.bin", "k"}}, 2,
                                            nullptr, [](PackageBuilder& builder) {
                                                std::memset(builder.Header().modules[1].digest, 0, 16);
                                            });
    mServer.Route("/pkg", HttpPlan::Body(package));
    ASSERT_TRUE(WriteNativeFile(Here("keep.bin"), "user data"));
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(ReadNativeFile(Here("keep.bin")), "user data");
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 1);
}

TEST_F(LoaderTest, UndeletableFilesGetPerProcessCopiesAndOnlyTheModuleCopyIsRemoved) {
    ServeGamePackage({{"level.dat", "new level"}});
    ASSERT_TRUE(WriteNativeFile(Here("game.so"), "old module held by another process"));
    ASSERT_TRUE(WriteNativeFile(Here("level.dat"), "old level"));
#ifdef _WIN32
    HeldFiles held;
    held.Hold({Here("game.so"), Here("level.dat")});
#else
    gUndeletable = {"game.so", "level.dat"};
#endif
    const std::string pid = std::to_string(CurrentProcessId());
    {
        TestLoader loader;
        loader.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
        EXPECT_EQ(NarrowText(loader.mModuleFileName), "game-" + pid + ".so");
        EXPECT_EQ(NarrowText(loader.mModuleCopyPath), Here("game-" + pid + ".so"));
        EXPECT_EQ(NarrowText(ModuleFileName(loader.mHeader.modules[1])), "level-" + pid + ".dat");
        EXPECT_EQ(ReadNativeFile(Here("game-" + pid + ".so")), RecordingModuleBytes());
        EXPECT_EQ(ReadNativeFile(Here("level-" + pid + ".dat")), "new level");
    }
#ifdef _WIN32
    held.Release();
#else
    gUndeletable.clear();
#endif
    EXPECT_FALSE(FileExists(WideText(Here("game-" + pid + ".so"))));
    EXPECT_TRUE(FileExists(WideText(Here("level-" + pid + ".dat"))));
    EXPECT_EQ(ReadNativeFile(Here("game.so")), "old module held by another process");
}

// A folder with a module file's name cannot be deleted: its block goes to the per-process name
// at the first fetch. A pipe with a file's name is never opened (nothing waits for a writer) and
// is replaced. Each says why in the trace.
TEST_F(LoaderTest, FoldersAndPipesWithModuleNamesNeitherHangNorRefetch) {
    ServeGamePackage({{"level.dat", "new level"}, {"music.ogg", "new music"}});
#ifdef _WIN32
    // Windows keeps pipes in their own namespace: none can stand at a file's name.
    ASSERT_EQ(mkdir(Here("level.dat").c_str()), 0);
#else
    ASSERT_EQ(mkdir(Here("level.dat").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(Here("music.ogg").c_str(), 0600), 0);
#endif
    const std::string pid = std::to_string(CurrentProcessId());
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(ReadNativeFile(Here("level-" + pid + ".dat")), "new level");
    EXPECT_EQ(ReadNativeFile(Here("music.ogg")), "new music");
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 3);
    EXPECT_EQ(mTrace.Count("[Loader] VOB(1) file is not a regular file, not read: level.dat"), 1);
#ifndef _WIN32
    EXPECT_EQ(mTrace.Count("[Loader] VOB(2) file is not a regular file, not read: music.ogg"), 1);
#endif
}

TEST_F(LoaderTest, RunModeTwoLoadsTheLocalModuleWithoutFetchingBlocks) {
    ServeGamePackage();
    ASSERT_TRUE(WriteNativeFile(Here("vexal3d.vob"), RecordingModuleBytes("recording_minimal")));
    TestLoader loader(2);
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(NarrowText(loader.mModuleFileName), "vexal3d.vob");
    EXPECT_EQ(BlockRequests(mServer, "/pkg"), 0);
    EXPECT_FALSE(FileExists(u"game.so"));
    // Without _VobSpeed the speed keeps its last value once the download handle is gone.
    loader.mSpeed = 3.5f;
    loader.Update(16);
    EXPECT_EQ(loader.mSpeed, 3.5f);
}

TEST_F(LoaderTest, ModuleThatCannotBeBoundIsNotLoadedAndTheTraceSaysWhy) {
    mServer.Route("/pkg", HttpPlan::Body(MakePackage({{"game.so", RecordingModuleBytes("recording_no_message")}})));
    {
        TestLoader loader;
        loader.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(loader, [&] { return mTrace.Contains("[Loader] Load VOB failed: "); }));
        // The reason follows on a line of its own: here the entry point the library lacks.
        const std::vector<std::string> lines = mTrace.Lines();
        const auto failed = std::find(lines.begin(), lines.end(), "[Loader] Load VOB failed: " + Here("game.so"));
        ASSERT_NE(failed, lines.end());
        ASSERT_NE(failed + 1, lines.end());
        EXPECT_EQ(failed[1], "[Loader] Load VOB failed, reason: the library does not export _VobMessage");
        EXPECT_EQ(loader.mState, LoaderStateModules);
        EXPECT_EQ(loader.mModule.mLibrary, nullptr);
        for (int i = 0; i < 20; ++i)
            loader.Update(16);
        EXPECT_EQ(loader.mState, LoaderStateModules);
        EXPECT_EQ(mTrace.Count("[Loader] Load VOB failed: "), 1);
        EXPECT_EQ(JournalCount("create"), 0);
    }
    // A file that is no library at all: the dynamic loader's own words. (Under another name: the
    // process may still hold the first library, and the dynamic loader knows it by its path.)
    mServer.Route("/text", HttpPlan::Body(MakePackage({{"text.so", std::string(4096, 'x')}})));
    TestLoader loader;
    loader.Set("voaurl", Url("/text"));
    ASSERT_TRUE(Pump(loader, [&] { return mTrace.Count("[Loader] Load VOB failed: ") == 2; }));
#ifdef _WIN32
    // The system's text for a file that is no executable image, as FormatMessage gives it.
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, ERROR_BAD_EXE_FORMAT, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    std::string reason = text;
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    EXPECT_TRUE(mTrace.Contains("[Loader] Load VOB failed, reason: " + reason)) << reason;
#else
    EXPECT_TRUE(mTrace.Contains("[Loader] Load VOB failed, reason: " + Here("text.so") + ": invalid ELF header"));
#endif
}

TEST_F(LoaderTest, FailedCreateStaysInStateFourAndStillDeletesTheModule) {
    ServeGamePackage();
    {
        TestLoader loader;
        loader.Set("voaparam", "create|0");
        loader.Set("errurl", Url("/err"));
        loader.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(loader, [&] { return JournalCount("create") == 1; }));
        EXPECT_TRUE(mTrace.Contains("[Loader] Create VOB failed: " + Url("/pkg") + ", create|0"));
        for (int i = 0; i < 10; ++i)
            loader.Update(16);
        EXPECT_EQ(loader.mState, LoaderStateModules);
        EXPECT_EQ(JournalCount("update"), 0);
        EXPECT_EQ(JournalCount("vobconfig"), 0);
        // The module's speed is read even so: the package handle is gone.
        EXPECT_EQ(loader.mSpeed, 42.0f);
    }
    EXPECT_EQ(JournalCount("delete"), 1);
}

TEST_F(LoaderTest, DeletingTheLoaderStopsARunningBlockDownload) {
    const std::string package = MakePackage({{"game.so", RecordingModuleBytes()}});
    mServer.Handle("/pkg", [package](const HttpRequest& request, int) {
        return IsBlockRequest(request) ? HttpPlan::Body(package).StallAfter(10) : HttpPlan::Body(package);
    });
    auto loader = std::make_unique<TestLoader>();
    loader->Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(*loader, [&] { return BlockRequests(mServer, "/pkg") == 1; }));
    EXPECT_NE(loader->mDownload, nullptr);
    loader.reset();
    EXPECT_FALSE(FileExists(u"game.so"));
    EXPECT_EQ(JournalCount("create"), 0);
}

TEST_F(LoaderTest, HeaderWithoutModuleSizesShowsTheEndOfTheBlockPhase) {
    mServer.Route("/pkg", HttpPlan::Body(MakePackage({{"@only", "", kPackZlib, false, true}})));
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModules; }));
    // No module file at all: nothing to load, and no division by the size 0.
    EXPECT_TRUE(mTrace.Contains("[Loader] Load VOB failed: "));
    loader.Update(16);
    EXPECT_EQ(loader.mResSize, 0);
    EXPECT_FLOAT_EQ(loader.mProgress, 0.4f);
    EXPECT_EQ(loader.mResCount, 1);
}

TEST_F(LoaderTest, OversizedDataFileIsDeletedOnlyUnderASafeCacheName) {
    const std::string home = ProfileFolder();
    const std::string folder = home + "/vexal/testgame";
    ASSERT_TRUE(CreateDirectoryPath(WideText(folder)));
    const std::string data = folder + "/testgame.vod";
    auto sized = [](const std::string& path, int64_t size) {
        File file;
        return file.CreateForWriting(WideText(path)) && file.SetSize(size);
    };

    // Exactly 2 GiB stays.
    ASSERT_TRUE(sized(data, int64_t(2147483648LL)));
    ServeGamePackage();
    {
        TestLoader loader;
        loader.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    }
    EXPECT_TRUE(FileExists(WideText(data)));
    EXPECT_FALSE(mTrace.Contains("VOD too large"));

    // One byte more is deleted before the module is created.
    ASSERT_TRUE(sized(data, int64_t(2147483649LL)));
    {
        TestLoader loader;
        loader.Set("voaurl", Url("/pkg"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    }
    EXPECT_FALSE(FileExists(WideText(data)));
    // The path in the system's own form ("\\" between folders on Windows).
    EXPECT_EQ(mTrace.Count("[Loader] VOD too large, delete it : " + NarrowText(SystemPath(WideText(data)))), 1);

    // A cache name that would leave the folder skips the check: "../.." names home/vexal/...
    mTrace.Clear();
    const std::string outside = home + "/...vod";
    ASSERT_TRUE(sized(outside, int64_t(2147483649LL)));
    mServer.Route("/dots", HttpPlan::Body(MakePackage({{"game.so", RecordingModuleBytes()}}, 2, nullptr,
                                                      [](PackageBuilder& builder) { builder.SetCacheName(u".."); })));
    {
        TestLoader loader;
        loader.Set("voaurl", Url("/dots"));
        ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    }
    EXPECT_TRUE(FileExists(WideText(outside)));
    EXPECT_FALSE(mTrace.Contains("VOD too large"));
    std::remove(outside.c_str());
}

TEST_F(LoaderTest, HeaderTimeOutIsMeasuredAcrossTheTimerWrap) {
    mServer.Route("/silent", HttpPlan::Body("x").Silent());
    TestLoader loader;
    loader.Set("voaurl", Url("/silent") + "|" + Url("/silent"));
    // A time-out whose end lies past the 32-bit wrap of the millisecond timer has not run out.
    loader.mHeaderTimeout = 0xFFFFFF00u;
    for (int i = 0; i < 20; ++i)
        loader.Update(16);
    EXPECT_EQ(loader.mUrlIndex, 0u);
    EXPECT_FALSE(mTrace.Contains("Download voa header failed"));
}
