// Faults of the server and the network during whole runs: a server that dies in the middle of a
// block, error storms, ranges ignored, blocks cut short, damaged or claiming 4 GiB, answers
// whose headers arrive a byte at a time.
#include <atomic>
#include <chrono>
#include <thread>

#include "FaultHarness.h"

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::string RangeFrom(uint32_t first) { return "bytes=" + std::to_string(first) + "-"; }

// Waits until the condition holds; false after timeoutMs.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

} // namespace

TEST_F(FaultRun, ServerKilledInTheMiddleOfABlockResumesAfterItsRestart) {
    const FaultPackage package = MakeFaultPackage({{"data/big.bin", NoiseBytes(3 << 20, 1)}});
    const uint32_t start = package.BlockStart(1), end = package.BlockEnd(1);
    const uint32_t half = (end - start) / 2;
    const std::string bytes = package.mBytes;
    std::atomic<int> blockAnswers{0};
    mServer.Handle("/pkg", [&blockAnswers, bytes, start, half](const HttpRequest& request, int) {
        if (StartsWith(request.Header("Range"), RangeFrom(start)) && blockAnswers++ == 0)
            return HttpPlan::Body(bytes).StallAfter(half);
        return HttpPlan::Body(bytes);
    });

    HostProcess host;
    ASSERT_TRUE(host.Start(HostCommand(RunParameters(mServer.Url("/pkg")), 60, true), Out("host.txt")));
    ASSERT_TRUE(WaitFor([&] { return !RangeRequests("/pkg", start).empty(); }, 30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // half the block is on its way
    const uint16_t port = mServer.Port();
    mServer.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // attempts meet a closed port
    ASSERT_TRUE(mServer.Start(port));
    const HostResult result = host.Wait(90);
    CheckRun(result);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    ExpectCacheHolds(package);
    // The next attempt asked for the rest of the block only.
    const std::vector<HttpRequest> resumed = RangeRequests("/pkg", start + half);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(resumed[0].Header("Range"), RangeFrom(start + half) + std::to_string(end - 1));
    EXPECT_EQ(RangeRequests("/pkg", start).size(), 1u);
    // The trace says why the attempts failed, and where the block resumed, once.
    const std::string url = mServer.Url("/pkg");
    EXPECT_TRUE(result.Contains("[WS] Web download attempt failed: " + url + " (Failed to connect to 127.0.0.1 port " +
                                std::to_string(port)))
        << result.mOutput;
    EXPECT_EQ(result.Count("[WS] Web download resumed at " + std::to_string(start + half) + ": " + url), 1);
}

TEST_F(FaultRun, ErrorStormsOnHeaderAndBlockEndInAWholeRun) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(400000), kPackLzma}});
    const uint32_t start = package.BlockStart(1);
    const std::string bytes = package.mBytes;
    std::atomic<int> headerErrors{0}, blockErrors{0};
    mServer.Handle("/pkg", [&, bytes, start](const HttpRequest& request, int) {
        const std::string range = request.Header("Range");
        if (range == "bytes=0-1131" && headerErrors++ < 3)
            return HttpPlan::Error(503, "<html>busy</html>");
        if (StartsWith(range, RangeFrom(start)) && blockErrors++ < 3)
            return HttpPlan::Error(blockErrors == 2 ? 500 : 502, "<html>gateway</html>");
        return HttpPlan::Body(bytes);
    });
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 60, true);

    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    ExpectCacheHolds(package);
    EXPECT_EQ(headerErrors.load(), 4);
    EXPECT_EQ(blockErrors.load(), 4);
    EXPECT_EQ(result.Count("VOB(1) checksum not correct"), 0) << "an error page was taken for the block";
    // One line per failed attempt with the status and its wait (growing, so no two lines fold).
    const std::string failed = "[WS] Web download attempt failed: " + mServer.Url("/pkg");
    EXPECT_EQ(result.Count(failed + " (HTTP 503), retry in "), 3) << result.mOutput;
    EXPECT_EQ(result.Count(failed + " (HTTP 502), retry in "), 2);
    EXPECT_EQ(result.Count(failed + " (HTTP 500), retry in "), 1);
}

TEST_F(FaultRun, ServerIgnoringRangesIsLeftForTheNextAddress) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(200000)}});
    mServer.Route("/whole", HttpPlan::Body(package.mBytes).IgnoreRanges());
    Serve(package, "/ranged");
    const HostResult result =
        RunHost(RunParameters(mServer.Url("/whole") + "|" + mServer.Url("/ranged")), 60, true);

    EXPECT_TRUE(result.Contains("[Loader] Voa header size not correct, try backup url: " + mServer.Url("/ranged")))
        << result.mOutput;
    EXPECT_TRUE(result.Contains("ready after"));
    ExpectCacheHolds(package);
    for (const HttpRequest& request : mServer.Requests("/whole"))
        EXPECT_EQ(request.Header("Range"), "bytes=0-1131") << "only the header was asked of it";
}

TEST_F(FaultRun, TruncatedBlockIsFetchedAgain) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(300000)}});
    const uint32_t start = package.BlockStart(1), end = package.BlockEnd(1);
    const std::string bytes = package.mBytes;
    std::atomic<int> blockAnswers{0};
    mServer.Handle("/pkg", [&blockAnswers, bytes, start, end](const HttpRequest& request, int) {
        // The first answer is complete as HTTP goes, but holds only a third of the block.
        if (StartsWith(request.Header("Range"), RangeFrom(start)) && blockAnswers++ == 0)
            return HttpPlan::Body(bytes.substr(start, (end - start) / 3)).IgnoreRanges();
        return HttpPlan::Body(bytes);
    });
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 60, true);

    EXPECT_EQ(result.Count("[Loader] Decompress VOB(1) failed"), 1) << result.mOutput;
    EXPECT_TRUE(result.Contains("ready after"));
    ExpectCacheHolds(package);
    EXPECT_EQ(blockAnswers.load(), 2);
}

TEST_F(FaultRun, DamagedBlockIsFetchedAgainUntilItsDigestHolds) {
    const FaultPackage package = MakeFaultPackage({{"data/level.bin", NoiseBytes(200000, 3), kPackZlib, true}});
    const uint32_t start = package.BlockStart(1), end = package.BlockEnd(1);
    std::string damaged = package.mBytes;
    damaged[start + (end - start) / 2] ^= 0x5A;
    const std::string bytes = package.mBytes;
    std::atomic<int> blockAnswers{0};
    mServer.Handle("/pkg", [&blockAnswers, bytes, damaged, start](const HttpRequest& request, int) {
        if (StartsWith(request.Header("Range"), RangeFrom(start)) && blockAnswers++ < 2)
            return HttpPlan::Body(damaged);
        return HttpPlan::Body(bytes);
    });
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 60, true);

    EXPECT_EQ(result.Count("[Loader] VOB(1) checksum not correct"), 2) << result.mOutput;
    EXPECT_TRUE(result.Contains("ready after"));
    ExpectCacheHolds(package);
}

TEST_F(FaultRun, BlockClaimingFourGibibytesIsRefusedWithoutTheAllocation) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(100000)}});
    const uint32_t start = package.BlockStart(1);
    std::string hostile = package.mBytes;
    for (int i = 0; i < 4; ++i)
        hostile[start + kPackedSizeOffset + i] = char(0xFF);
    const std::string bytes = package.mBytes;
    std::atomic<int> blockAnswers{0};
    mServer.Handle("/pkg", [&blockAnswers, bytes, hostile, start](const HttpRequest& request, int) {
        if (StartsWith(request.Header("Range"), RangeFrom(start)) && blockAnswers++ < 2)
            return HttpPlan::Body(hostile);
        return HttpPlan::Body(bytes);
    });
    const HostResult result = RunHost(RunParameters(mServer.Url("/pkg")), 60, true);

    EXPECT_EQ(result.Count("[FG] Unpack Error : can't allocate 4294967295 bytes"), 2) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] Decompress VOB(1) failed"), 2);
    EXPECT_TRUE(result.Contains("ready after"));
    ExpectCacheHolds(package);
}

TEST_F(FaultRun, SlowLorisAnswerToTheSizeProbeGoesUncheckedAfterTheHeaderTimeOut) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(50000)}});
    const std::string bytes = package.mBytes;
    std::atomic<int> probes{0};
    mServer.Handle("/pkg", [&probes, bytes](const HttpRequest& request, int) {
        // The probe asks without a range: its answer's head comes at five bytes a second. The
        // header's answer names no total, so the probe runs.
        if (!request.HasHeader("Range")) {
            ++probes;
            return HttpPlan::Body(bytes).TrickleHead(1, 200);
        }
        if (request.Header("Range") == "bytes=0-1131")
            return HttpPlan::PartWithoutTotal(bytes.substr(0, 1132));
        return HttpPlan::Body(bytes);
    });
    const HostResult result = RunHost({"voatimeout=2000", "voaparam=progress|1|ready|1|quiet|1",
                                       "voaurl=" + mServer.Url("/pkg")},
                                      60, true);

    EXPECT_EQ(probes.load(), 1);
    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    EXPECT_EQ(result.Count("[Loader] Voa size not checked: no answer headers within 2000 ms from " + mServer.Url("/pkg")),
              1);
    EXPECT_FALSE(result.Contains("The voa size returned is not correct"));
    ExpectCacheHolds(package);
}

TEST_F(FaultRun, LateSizeProbeAnswerWithAWrongLengthIsRefused) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(50000)}});
    const std::string bytes = package.mBytes;
    // The probe of the first address is answered after 3 s, with 4 bytes too many; the header's
    // answer names no total, so the probe runs.
    mServer.Handle("/late", [bytes](const HttpRequest& request, int) {
        if (!request.HasHeader("Range"))
            return HttpPlan::Body(bytes + "tail").DelayHead(3000);
        if (request.Header("Range") == "bytes=0-1131")
            return HttpPlan::PartWithoutTotal(bytes.substr(0, 1132));
        return HttpPlan::Body(bytes);
    });
    Serve(package, "/pkg");
    const HostResult result = RunHost(RunParameters(mServer.Url("/late") + "|" + mServer.Url("/pkg")), 60, true);

    EXPECT_EQ(result.Count("[Loader] The voa size returned is not correct: " + std::to_string(bytes.size() + 4) + ", " +
                           std::to_string(bytes.size()) + " expected"),
              1)
        << result.mOutput;
    EXPECT_TRUE(result.Contains("[Loader] Voa not correct, try backup url: " + mServer.Url("/pkg")));
    EXPECT_TRUE(result.Contains("ready after"));
    ExpectCacheHolds(package);
}

TEST_F(FaultRun, StalledFirstAddressIsLeftAtTheHeaderTimeOut) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(50000)}});
    mServer.Route("/stalled", HttpPlan::Body(package.mBytes).Silent());
    Serve(package, "/pkg");
    const HostResult result = RunHost({"voatimeout=1000", "voaparam=progress|1|ready|1|quiet|1",
                                       "voaurl=" + mServer.Url("/stalled") + "|" + mServer.Url("/pkg")},
                                      60, true);

    EXPECT_EQ(result.Count("[Loader] Download voa header failed, try backup url: " + mServer.Url("/pkg")), 1)
        << result.mOutput;
    EXPECT_TRUE(result.Contains("ready after"));
    ExpectCacheHolds(package);
}

TEST_F(FaultRun, SlowLorisHeaderDownloadTimesOutToTheNextAddress) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(50000)}});
    mServer.Route("/slow", HttpPlan::Body(package.mBytes).TrickleHead(1, 200));
    Serve(package, "/fast");
    const HostResult result = RunHost({"voatimeout=2000", "voaparam=progress|1|ready|1|quiet|1",
                                       "voaurl=" + mServer.Url("/slow") + "|" + mServer.Url("/fast")},
                                      60, true);

    EXPECT_TRUE(result.Contains("[Loader] Download voa header failed, try backup url: " + mServer.Url("/fast")))
        << result.mOutput;
    EXPECT_TRUE(result.Contains("ready after"));
    ExpectCacheHolds(package);
}

// Over 30 s each, one player per dead or lying address (run side by side): a 404, a port that
// refuses connections, and a mirror serving the genuine header but wrong blocks. None is asked
// more than 15 times; listed before a good address, none keeps the run from completing.
TEST_F(FaultRun, DeadOrLyingAddressesAreAskedAtMostFifteenTimesInThirtySeconds) {
    const FaultPackage package = MakeFaultPackage({{"data/level.txt", TextBytes(50000)}});
    std::string lying = package.mBytes;
    for (int i = 0; i < 2; ++i)
        lying[package.BlockStart(i) + (package.BlockEnd(i) - package.BlockStart(i)) / 2] ^= 0x5A;
    mServer.Route("/missing", HttpPlan::Error(404, "<html>not here</html>"));
    mServer.Route("/lying", HttpPlan::Body(lying));
    Serve(package, "/good");
    HttpTestServer closed;
    ASSERT_TRUE(closed.Start());
    const std::string refused = closed.Url("/pkg");
    closed.Stop();

    const std::vector<std::pair<std::string, std::string>> dead = {
        {"missing", mServer.Url("/missing")}, {"refused", refused}, {"lying", mServer.Url("/lying")}};
    std::vector<HostProcess> hosts(dead.size());
    for (size_t i = 0; i < dead.size(); ++i)
        ASSERT_TRUE(hosts[i].Start(HostCommand(RunParameters(dead[i].second), 30, false), Out(dead[i].first + ".txt")));
    std::vector<HostResult> results;
    for (HostProcess& host : hosts)
        results.push_back(host.Wait(90));
    for (const HostResult& result : results)
        CheckRun(result);

    const int missing = int(mServer.RequestCount("/missing"));
    const int attempts = results[1].Count("[WS] Web download attempt failed: " + refused + " (Failed to connect");
    const int blocks = int(RangeRequests("/lying", package.BlockStart(0)).size());
    std::printf("[fault] 30 s each: 404 asked %d times, refused port %d times, wrong blocks %d times\n", missing,
                attempts, blocks);
    EXPECT_GE(missing, 3);
    EXPECT_LE(missing, 15) << results[0].mOutput;
    EXPECT_GE(attempts, 3);
    EXPECT_LE(attempts, 15) << results[1].mOutput;
    EXPECT_GE(blocks, 3);
    EXPECT_LE(blocks, 15) << results[2].mOutput;
    EXPECT_TRUE(results[0].Contains("[Loader] Voa header address refuses the download: " + mServer.Url("/missing")));
    EXPECT_TRUE(results[2].Contains("[Loader] VOB(0) fetched again in "));

    // All three ahead of a good address: each is left, and the good one serves the run.
    mServer.ClearLog();
    const HostResult result =
        RunHost({"voatimeout=2000", "voaparam=progress|1|ready|1|quiet|1",
                 "voaurl=" + refused + "|" + mServer.Url("/missing") + "|" + mServer.Url("/lying") + "|" +
                     mServer.Url("/good")},
                60, true);
    EXPECT_TRUE(result.Contains("ready after")) << result.mOutput;
    EXPECT_EQ(RangeRequests("/lying", package.BlockStart(0)).size(), 2u);
    ExpectCacheHolds(package);
}
