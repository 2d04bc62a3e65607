// Many loading runs in one process, as a host that starts the game again and again would make
// them: create, run to the hand-off, delete, with the cache emptied before every other run.
// Nothing may pile up: memory, descriptors or handles, threads, log files.
//
// The number of runs is VEXAL_SOAK_RUNS, 200 unless told otherwise.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "Source/Common/PackageBuilder.h"
#include "Vexal3DLoader.h"
#include "support/HttpTestServer.h"
#include "support/LoaderLibrary.h"
#include "support/ProcessFigures.h"
#include "support/ScratchFolder.h"
#include "support/TestEnvironment.h"

#if defined(__SANITIZE_ADDRESS__)
#define VEXAL_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXAL_SOAK_ASAN 1
#endif
#endif

namespace {

int OpenHandles() { return CurrentProcessFigures().mHandles; }
int Threads() { return CurrentProcessFigures().mThreads; }

// Threads end, and the test server's sockets close, a moment after they are let go; on a busy
// machine (Wine's server shares the processors with the test) that moment can be long. The count
// once it has come down to base, or after five seconds.
int Settled(int (*count)(), int base) {
    int value = count();
    for (int waited = 0; value > base && waited < 5000; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        value = count();
    }
    return value;
}

long FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : long(size);
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mScratch.IsValid());
        ASSERT_TRUE(MakeNativeFolders(mScratch.Native("cache")));
        ASSERT_TRUE(MakeNativeFolders(mScratch.Native("home")));
        // Before any thread starts: the profile folder, and the log in files (not on the console).
        SetTestEnvironment(kProfileVariable, mScratch.Native("home").c_str());
        UnsetTestEnvironment("[VEXAL-DEBUG]");
        std::error_code error;
        mPrevious = std::filesystem::current_path(error).string();
        std::filesystem::current_path(mScratch.Native("cache"), error);
        ASSERT_FALSE(error) << error.message();

        // A small package: the recording game module and two data files.
        PackageBuilder builder;
        builder.SetName(u"Soak");
        builder.SetCacheName(u"soak");
        const std::string game = ReadNativeFile(VEXAL_RECORDING_MODULE);
        ASSERT_FALSE(game.empty());
        const std::string text(100000, 't');
        const std::string table(30000, 'x');
        ASSERT_TRUE(builder.AddModule(u"game.so", game.data(), uint32_t(game.size()), kPackZlib, -1));
        ASSERT_TRUE(builder.AddModule(u"data/text.bin", text.data(), uint32_t(text.size()), kPackLzma, -1));
        ASSERT_TRUE(builder.AddPlainModule(u"table.bin", table.data(), uint32_t(table.size())));
        Buffer package;
        ASSERT_TRUE(builder.Finish(package));
        mPackage.assign(reinterpret_cast<const char*>(package.GetData()), package.GetSize());
        ASSERT_TRUE(StartServer(0));
    }

    // The test server keeps every connection's thread and every request until it stops, on
    // Windows an ended thread keeps its handle until it is joined, and its locks keep what the
    // system gave them while they last: a new server after every run, on the same port, so that
    // only the loader's own memory and handles are measured.
    bool StartServer(uint16_t port) {
        mServer.reset();
        mServer.emplace();
        mServer->Route("/pkg", HttpPlan::Body(mPackage));
        mServer->Route("/tick", HttpPlan::Body("", "text/plain"));
        return mServer->Start(port);
    }

    void TearDown() override {
        mServer.reset();
        if (!mPrevious.empty()) {
            std::error_code error;
            std::filesystem::current_path(mPrevious, error);
            EXPECT_FALSE(error) << mPrevious;
        }
    }

    // One run: create, parameters, updates until the hand-off (and a few after it), delete.
    // Returns false when the hand-off did not come within 20 s.
    bool LoadOnce(LoaderLibrary& loader) {
        const std::u16string packageUrl = mServer->WideUrl("/pkg");
        const std::u16string tickUrl = mServer->WideUrl("/tick?game=soak");
        loader.mCreate(0, nullptr, nullptr, nullptr, 0);
        loader.mSetup(u"voaparam", u"progress|1|ready|1|quiet|1");
        loader.mSetup(u"tickinterval", u"50");
        loader.mSetup(u"tickurl", tickUrl.c_str());
        loader.mSetup(u"voaurl", packageUrl.c_str());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool handedOver = false;
        int after = 0;
        while (after < 5 && std::chrono::steady_clock::now() < deadline) {
            loader.mUpdate(nullptr, 16);
            loader.mRender();
            if (loader.mProgress() >= 1.0f)
                handedOver = true;
            if (handedOver)
                ++after;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        loader.mDelete(0);
        return handedOver;
    }

    void EmptyCache() {
        for (const char* name : {"game.so", "data/text.bin", "table.bin"})
            std::remove(mScratch.Native(std::string("cache/") + name).c_str());
    }

    std::string TraceLog() const { return mScratch.Native("cache/test_soak-loader-[Trace].log"); }

    ScratchFolder mScratch;
    std::string mPackage;
    std::optional<HttpTestServer> mServer;
    std::string mPrevious;
};

} // namespace

TEST_F(Soak, RunsAlternatingColdAndWarmCachesLeaveNothingBehind) {
    const char* requested = std::getenv("VEXAL_SOAK_RUNS");
    const int runs = requested != nullptr && std::atoi(requested) > 0 ? std::atoi(requested) : 200;
    const int warmUp = runs >= 40 ? 20 : 10; // libraries' first-use caches settle in these

    LoaderLibrary loader;
    ASSERT_TRUE(loader.Open(VEXAL_LOADER_LIBRARY)) << LoaderLibrary::LastError();
    // What the game module's own runtime keeps at each load is the module's, not the loader's.
    // Measured on a second load: the first may bring system libraries that stay.
    HandlesKeptByLoadingLibrary(VEXAL_RECORDING_MODULE);
    const int moduleKeeps = HandlesKeptByLoadingLibrary(VEXAL_RECORDING_MODULE);
    const auto started = std::chrono::steady_clock::now();
    // The threads of the process itself: the test's and the server's.
    const int threadsIdle = Threads();
    int handlesBase = 0, threadsBase = 0;
    long residentBase = 0, residentPeak = 0, privateBase = 0;
    long logCold = -1, logWarm = -1, logLargest = 0;
    for (int run = 0; run < runs; ++run) {
        const bool cold = run % 2 == 0;
        if (cold)
            EmptyCache();
        ASSERT_TRUE(LoadOnce(loader)) << "run " << run << " did not reach the hand-off";
        ASSERT_EQ(ReadNativeFile(mScratch.Native("cache/data/text.bin")), std::string(100000, 't')) << run;

        // Each run's log starts afresh: the file stays the size of one run.
        const long log = FileSize(TraceLog());
        ASSERT_GT(log, 0) << run;
        long& first = cold ? logCold : logWarm;
        if (first < 0)
            first = log;
        logLargest = std::max(logLargest, log);
        EXPECT_LE(log, first * 3 / 2 + 2048) << "run " << run << ": the trace log grew beyond its run";

        ASSERT_TRUE(StartServer(mServer->Port()));
        // The run's stopped transfers end on threads of their own a moment after the delete, and
        // the library frees their workers at its next create: once their threads have ended, a
        // create and a delete with nothing asked (a host opening the next game and closing it
        // again) leave only what the runs kept.
        const int threads = Settled(Threads, run + 1 > warmUp ? threadsBase : threadsIdle);
        loader.mCreate(0, nullptr, nullptr, nullptr, 0);
        loader.mDelete(0);
        if (run + 1 == warmUp) {
            threadsBase = threads;
            handlesBase = Settled(OpenHandles, 0);
            residentBase = CurrentProcessFigures().mResidentKiB;
            privateBase = CurrentProcessFigures().mPrivateKiB;
        }
        if (run + 1 > warmUp) {
            const int handlesAllowed = handlesBase + (run + 1 - warmUp) * moduleKeeps;
            EXPECT_LE(threads, threadsBase) << "run " << run;
            EXPECT_LE(Settled(OpenHandles, handlesAllowed), handlesAllowed) << "run " << run;
            residentPeak = std::max(residentPeak, CurrentProcessFigures().mResidentKiB);
            if ((run + 1) % 50 == 0)
                std::printf("[soak] run %d: RSS %ld KiB\n", run + 1, CurrentProcessFigures().mResidentKiB);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const ProcessFigures end = CurrentProcessFigures();
    const long residentEnd = end.mResidentKiB;
    std::printf("[soak] %d runs in %.1f s; RSS after warm-up %ld KiB, at the end %ld KiB, peak %ld KiB; private "
                "%ld -> %ld KiB; handles %d -> %d (%d kept by each load of the module); threads %d -> %d; trace log cold %ld, warm %ld, largest %ld bytes\n",
                runs, seconds, residentBase, residentEnd, residentPeak, privateBase, end.mPrivateKiB, handlesBase,
                end.mHandles, moduleKeeps, threadsBase, end.mThreads, logCold, logWarm, logLargest);
    RecordProperty("runs", runs);
    RecordProperty("seconds", std::to_string(seconds));
    RecordProperty("rss_start_kib", std::to_string(residentBase));
    RecordProperty("rss_end_kib", std::to_string(residentEnd));
#ifndef VEXAL_SOAK_ASAN
    // Flat within a few MiB (allocator pools); under AddressSanitizer the quarantine grows by
    // design and LeakSanitizer judges at exit instead.
    if (runs > warmUp) {
        EXPECT_LE(residentEnd - residentBase, 8 * 1024L) << "memory grew over the runs";
        EXPECT_LE(end.mPrivateKiB - privateBase, 8 * 1024L) << "private memory grew over the runs";
    }
#endif
    loader.Close();
}

TEST_F(Soak, UnloadingTheLibraryClosesItsLogFiles) {
    // A first round brings the system libraries the loader uses and their first-use state, which
    // stay with the process after the library is gone (under Wine, user32's display and colour
    // settings and the image codecs' registry keys). What each later load keeps is the
    // runtime's (see HandlesKeptByLoadingLibrary).
    {
        LoaderLibrary loader;
        ASSERT_TRUE(loader.Open(VEXAL_LOADER_LIBRARY)) << LoaderLibrary::LastError();
        loader.mCreate(0, nullptr, nullptr, nullptr, 0);
        loader.mDelete(0);
        loader.Close();
    }
    const int keptByLoading = HandlesKeptByLoadingLibrary(VEXAL_LOADER_LIBRARY);
    const int handles = OpenHandles();
    for (int cycle = 0; cycle < 3; ++cycle) {
        LoaderLibrary loader;
        ASSERT_TRUE(loader.Open(VEXAL_LOADER_LIBRARY)) << LoaderLibrary::LastError();
        loader.mCreate(0, nullptr, nullptr, nullptr, 0);
        loader.mDelete(0);
        ASSERT_TRUE(HoldsNativeFile(TraceLog()));
        loader.Close();
        if (LoaderLibrary::StillLoaded(VEXAL_LOADER_LIBRARY))
            GTEST_SKIP() << "the library stays mapped after it is closed here; its files stay with it";
        EXPECT_FALSE(HoldsNativeFile(TraceLog())) << "cycle " << cycle;
        EXPECT_FALSE(HoldsNativeFile(mScratch.Native("cache/test_soak-loader-[Error].log"))) << "cycle " << cycle;
    }
    EXPECT_LE(OpenHandles(), handles + 3 * keptByLoading);
}
