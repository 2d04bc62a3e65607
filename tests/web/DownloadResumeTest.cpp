// Background downloads: ranges, resumption after failures, error answers, oversized answers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Source/Common/Buffer.h"
#include "Source/Platform/WebDownload.h"
#include "support/HttpTestServer.h"
#include "support/ScratchFolder.h"
#include "web/WebTestSupport.h"

namespace {

class DownloadTest : public WebHandleTest {
protected:
    void TearDown() override {
        DestroyWorker(mWorker);
        WebHandleTest::TearDown();
    }
    void Start(const std::string& path, uint64_t rangeStart, int64_t rangeEnd, const char16_t* cookie = u"") {
        mUrl = mServer.WideUrl(path);
        mWorker = StartDownload(&mProgress, mUrl.c_str(), &mTarget, rangeStart, rangeEnd, mHandle, cookie);
        ASSERT_NE(mWorker, nullptr);
    }
    void Finish() {
        ASSERT_TRUE(WaitForCompletion(mProgress));
        DestroyWorker(mWorker);
        mWorker = nullptr;
    }

    WorkerThread* mWorker = nullptr;
    std::atomic<float> mProgress{-1.0f};
    Buffer mTarget;
    std::u16string mUrl;
};

// The package header fetch: bytes 0-1131, and after a connection dropped at 100 bytes the next
// attempt asks for the rest only; the result is byte-exact.
TEST_F(DownloadTest, HeaderRangeResumesAfterDrop) {
    std::string package = PatternBody(50000);
    mServer.Route("/game.voa", HttpPlan::Body(package));
    mServer.Queue("/game.voa", HttpPlan::Body(package).DropAfter(100));
    Start("/game.voa", 0, 1132);
    Finish();

    auto requests = mServer.Requests("/game.voa");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=0-1131");
    EXPECT_EQ(requests[1].Header("Range"), "bytes=100-1131");
    EXPECT_EQ(BufferText(mTarget), package.substr(0, 1132));
    EXPECT_EQ(mTarget.GetCursorOffset(), 1132u);

    // What the server sees from this client on every transfer.
    for (const HttpRequest& request : requests) {
        EXPECT_EQ(request.mMethod, "GET");
        EXPECT_EQ(request.Header("User-Agent"), "libcurl-agent/1.0");
        EXPECT_EQ(request.Header("Accept"), "*/*");
        EXPECT_EQ(request.Header("Connection"), "Keep-Alive");
        EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(mServer.Port()));
        EXPECT_FALSE(request.HasHeader("Cookie"));
    }
}

// A module block in the middle of the package, resumed twice.
TEST_F(DownloadTest, BlockRangeResumesTwice) {
    std::string package = PatternBody(300000, 7);
    mServer.Route("/game.voa", HttpPlan::Body(package));
    mServer.Queue("/game.voa", HttpPlan::Body(package).DropAfter(4000));
    mServer.Queue("/game.voa", HttpPlan::Body(package).DropAfter(50000));
    Start("/game.voa", 100000, 200000);
    Finish();

    auto requests = mServer.Requests("/game.voa");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=100000-199999");
    EXPECT_EQ(requests[1].Header("Range"), "bytes=104000-199999");
    EXPECT_EQ(requests[2].Header("Range"), "bytes=154000-199999");
    EXPECT_EQ(BufferText(mTarget), package.substr(100000, 100000));
}

// A whole resource continues where it stopped; a server that restarts the resource with 200
// instead of resuming replaces what was kept rather than being appended to it.
TEST_F(DownloadTest, WholeResourceResumes) {
    std::string data = PatternBody(20000, 3);
    mServer.Route("/serverdata.txt", HttpPlan::Body(data));
    mServer.Queue("/serverdata.txt", HttpPlan::Body(data).DropAfter(5000));
    Start("/serverdata.txt", 0, -1);
    Finish();
    auto requests = mServer.Requests("/serverdata.txt");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    EXPECT_EQ(requests[1].Header("Range"), "bytes=5000-");
    EXPECT_EQ(BufferText(mTarget), data);

    mServer.Route("/plain.txt", HttpPlan::Body(data).IgnoreRanges());
    mServer.Queue("/plain.txt", HttpPlan::Body(data).IgnoreRanges().DropAfter(7000));
    Start("/plain.txt", 0, -1);
    Finish();
    EXPECT_EQ(mServer.Requests("/plain.txt")[1].Header("Range"), "bytes=7000-");
    EXPECT_EQ(BufferText(mTarget), data);
}

// Resumed to its very end: the server answers the resume with a 200 whose length is what is
// already held, so libcurl reports the document complete without a body. The bytes held are the
// body; they are not thrown away as if the server had ignored the resume.
TEST_F(DownloadTest, WholeResourceResumedToItsEndKeepsTheBytes) {
    std::string data = PatternBody(5000, 4);
    mServer.Queue("/serverdata.txt", HttpPlan::Body(data).DropAfter(3000));
    mServer.Route("/serverdata.txt", HttpPlan::Body(data.substr(0, 3000)).IgnoreRanges());
    Start("/serverdata.txt", 0, -1);
    Finish();
    ASSERT_EQ(mServer.RequestCount("/serverdata.txt"), 2u);
    EXPECT_EQ(mServer.Requests("/serverdata.txt")[1].Header("Range"), "bytes=3000-");
    EXPECT_EQ(BufferText(mTarget), data.substr(0, 3000));
}

// Ranges past 2 GiB travel as 64-bit numbers from the caller to the request text, also when an
// attempt resumes; the server makes its 2.25 GiB on the fly.
TEST_F(DownloadTest, RangesPastTwoGibibytesStayExactWhenResumed) {
    const uint64_t start = 0x90000000ull, size = 1000;
    auto generate = [](uint64_t offset, char* out, size_t count) {
        for (size_t i = 0; i < count; ++i) out[i] = char((offset + i) * 7 + ((offset + i) >> 29));
    };
    mServer.Route("/big.voa", HttpPlan::Generated(start + 5000, generate));
    mServer.Queue("/big.voa", HttpPlan::Generated(start + 5000, generate).DropAfter(300));
    Start("/big.voa", start, int64_t(start + size));
    Finish();
    auto requests = mServer.Requests("/big.voa");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=2415919104-2415920103");
    EXPECT_EQ(requests[1].Header("Range"), "bytes=2415919404-2415920103");
    std::string expected(size, '\0');
    generate(start, &expected[0], size);
    EXPECT_EQ(BufferText(mTarget), expected);
}

// 4xx/5xx answers add nothing to the target and do not move the resumption point: the final
// body is exact, not an error page followed by the rest of the resource. Failed attempts wait
// 1 s, then 2 s (each less up to a quarter); bytes of the resource set the wait back to 1 s.
TEST_F(DownloadTest, ErrorAnswersAreRetriedAfterGrowingWaitsWithoutKeepingTheirBody) {
    std::string package = PatternBody(4000, 11);
    mServer.Route("/game.voa", HttpPlan::Body(package));
    mServer.Queue("/game.voa", HttpPlan::Error(503, "<html>busy, come back later</html>"), 2);
    mServer.Queue("/game.voa", HttpPlan::Body(package).DropAfter(300));
    mServer.Queue("/game.voa", HttpPlan::Error(404, "<html>not here</html>"));
    CapturedLog::Get().Clear();
    Start("/game.voa", 0, 1132);

    // After an error answer the progress value drops back to 0.0.
    ASSERT_TRUE(mServer.WaitForRequests("/game.voa", 4, 20000));
    EXPECT_TRUE(WaitUntil([&] { return mProgress.load() == 0.0f; }, 2000));
    Finish();

    auto requests = mServer.Requests("/game.voa");
    ASSERT_EQ(requests.size(), 5u);
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].Header("Range"), i < 3 ? "bytes=0-1131" : "bytes=300-1131");
    EXPECT_EQ(BufferText(mTarget), package.substr(0, 1132));

    // Each failed attempt says why and how long it waits; the break is reported once.
    const std::string url = mServer.Url("/game.voa");
    std::vector<std::string> lines;
    for (const std::string& line : CapturedLog::Get().Lines())
        if (line.find("[WS] Web download") != std::string::npos) lines.push_back(line.substr(line.find("[WS]")));
    ASSERT_EQ(lines.size(), 5u);
    const std::string failed = "[WS] Web download attempt failed: " + url;
    const std::vector<std::pair<std::string, int>> attempts = {
        {failed + " (HTTP 503), retry in ", 1000},
        {failed + " (HTTP 503), retry in ", 2000},
        {failed + " (transfer closed with 832 bytes remaining to read), retry in ", 1000},
        {"", 0},
        {failed + " (HTTP 404), retry in ", 2000},
    };
    EXPECT_EQ(lines[3], "[WS] Web download resumed at 300: " + url);
    for (size_t i = 0; i < attempts.size(); ++i) {
        if (attempts[i].second == 0)
            continue;
        SCOPED_TRACE(lines[i]);
        ASSERT_EQ(lines[i].rfind(attempts[i].first, 0), 0u);
        const int wait = std::atoi(lines[i].c_str() + attempts[i].first.size());
        EXPECT_LE(wait, attempts[i].second);
        EXPECT_GE(wait, attempts[i].second * 3 / 4);
        EXPECT_EQ(lines[i].substr(lines[i].size() - 3), " ms");
    }
}

// A port nobody listens on, a host that does not exist and a scheme the service refuses each
// name libcurl's reason in the failed attempt's line.
TEST_F(DownloadTest, FailedAttemptsNameLibcurlsReason) {
    const std::string closed = mServer.Url("/game.voa");
    mServer.Stop();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {closed, "(Failed to connect to 127.0.0.1 port " + std::to_string(mServer.Port())},
        {"http://no-such-host.invalid/game.voa", "(Could not resolve host: no-such-host.invalid"},
        {"ftp://127.0.0.1/game.voa", "(Protocol \"ftp\" not supported"},
    };
    for (const auto& [url, reason] : cases) {
        SCOPED_TRACE(url);
        CapturedLog::Get().Clear();
        const std::string line = "[WS] Web download attempt failed: " + url + " " + reason;
        mUrl = std::u16string(url.begin(), url.end());
        mWorker = StartDownload(&mProgress, mUrl.c_str(), &mTarget, 0, 1132, mHandle, u"");
        EXPECT_TRUE(WaitUntil([&] { return CapturedLog::Get().Contains(line); }, 10000));
        DestroyWorker(mWorker);
        mWorker = nullptr;
        EXPECT_TRUE(CapturedLog::Get().Contains("), retry in ")) << CapturedLog::Get().Lines().back();
    }
}

// A server that ignores the range sends the whole package: only the range's length plus one
// byte is kept, and the attempt counts as complete so the caller's size check rejects it.
TEST_F(DownloadTest, OversizedAnswerIsCutAtRangeLengthPlusOne) {
    std::string package = PatternBody(4 * 1024 * 1024, 5);
    mServer.Route("/game.voa", HttpPlan::Body(package).IgnoreRanges());
    Start("/game.voa", 0, 1132);
    Finish();
    EXPECT_EQ(mServer.RequestCount("/game.voa"), 1u);
    EXPECT_EQ(BufferText(mTarget), package.substr(0, 1133));

    // Resumed after a drop, the same rule counts what the first attempt kept.
    mServer.Route("/other.voa", HttpPlan::Body(package).IgnoreRanges());
    mServer.Queue("/other.voa", HttpPlan::Body(package).DropAfter(100));
    Start("/other.voa", 0, 1132);
    Finish();
    EXPECT_EQ(mTarget.GetSize(), 1133u);
    EXPECT_EQ(BufferText(mTarget).substr(0, 100), package.substr(0, 100));
    EXPECT_EQ(BufferText(mTarget).substr(100), package.substr(0, 1033));
}

// Connection refused while the server is down, then the transfer resumes once it is back.
TEST_F(DownloadTest, ResumesAfterServerRestart) {
    std::string package = PatternBody(100000, 13);
    mServer.Route("/game.voa", HttpPlan::Body(package));
    mServer.Queue("/game.voa", HttpPlan::Body(package).StallAfter(30000));
    Start("/game.voa", 0, 100000);
    ASSERT_TRUE(WaitUntil([&] { return mProgress.load() > 0.0f; }, 5000));
    mServer.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(mServer.Start(mServer.Port()));
    Finish();
    auto requests = mServer.Requests("/game.voa");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=30000-99999");
    EXPECT_EQ(BufferText(mTarget), package);
}

// The value never reads 1.0 while bytes are still arriving, and 1.0 means the body is there.
TEST_F(DownloadTest, ProgressReachesOneOnlyAtTheEnd) {
    std::string data = PatternBody(96 * 1024, 17);
    mServer.Route("/slow.bin", HttpPlan::Body(data).Trickle(4096, 10));
    Start("/slow.bin", 0, -1);
    float highest = 0.0f;
    int samples = 0;
    while (mProgress.load() != 1.0f) {
        float value = mProgress.load();
        ASSERT_LT(value, 1.0f);
        if (value > highest) highest = value;
        ++samples;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_LT(samples, 20000);
    }
    EXPECT_GT(highest, 0.3f);
    EXPECT_LE(highest, 0.9999f);
    EXPECT_EQ(BufferText(mTarget), data);
}

// Destroying the worker of a transfer stalled mid-body returns within the next progress
// callback and writes the abort line; the request never retries.
TEST_F(DownloadTest, DestroyWorkerStopsStalledTransfer) {
    std::string package = PatternBody(200000, 19);
    mServer.Route("/game.voa", HttpPlan::Body(package).StallAfter(1000));
    CapturedLog::Get().Clear();
    Start("/game.voa", 0, 200000);
    ASSERT_TRUE(WaitUntil([&] { return mProgress.load() > 0.0f; }, 5000));
    auto start = std::chrono::steady_clock::now();
    DestroyWorker(mWorker);
    mWorker = nullptr;
    long long elapsed = ElapsedMs(start);
    EXPECT_LT(elapsed, 1500);
    EXPECT_EQ(CapturedLog::Get().Count("[WS] Web download aborted at thread 0x"), 1u);
    EXPECT_LT(mProgress.load(), 1.0f);
    EXPECT_EQ(mServer.RequestCount("/game.voa"), 1u);
}

// A download without a handle of its own makes one per attempt and reports its end points.
TEST_F(DownloadTest, WithoutHandleLogsTheFinishLine) {
    mServer.Route("/tick.txt", HttpPlan::Body("ok"));
    CapturedLog::Get().Clear();
    mUrl = mServer.WideUrl("/tick.txt");
    mWorker = StartDownload(&mProgress, mUrl.c_str(), &mTarget, 0, -1, nullptr, u"");
    Finish();
    EXPECT_EQ(BufferText(mTarget), "ok");
    std::string peer = "127.0.0.1:" + std::to_string(mServer.Port());
    bool found = false;
    for (const std::string& line : CapturedLog::Get().Lines()) {
        if (line.find("[WS] Web download finish : 127.0.0.1:") != std::string::npos &&
            line.find(" <-> " + peer + " (200)") != std::string::npos) {
            found = true;
        }
    }
    EXPECT_TRUE(found);

    // Without a target the body is read and dropped.
    std::atomic<float> progress{0.5f};
    WorkerThread* worker = StartDownload(&progress, mUrl.c_str(), nullptr, 0, -1, nullptr, nullptr);
    EXPECT_TRUE(WaitForCompletion(progress));
    DestroyWorker(worker);
}

// A transfer stopped while its server stalls lets go on its own: the handle carries the next
// transfer at once (on a connection of its own, with the handle's headers) and may be given up
// while the stopped one still runs; the stopped transfer writes its abort line and frees
// everything on its worker.
TEST_F(WebHandleTest, StoppedTransferLetsGoOfItsHandleOnItsOwn) {
    std::string package = PatternBody(200000, 23);
    mServer.Route("/stall", HttpPlan::Body(package).StallAfter(1000));
    mServer.Route("/game.voa", HttpPlan::Body(package));
    AddWebHeader(mHandle, u"X-Run: 7");
    CapturedLog::Get().Clear();
    std::u16string stalled = mServer.WideUrl("/stall");
    WebTransfer* first = StartTransfer(stalled.c_str(), 0, 200000, mHandle, u"");
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return GetTransferProgress(first) > 0.0f; }, 5000));
    Buffer body;
    EXPECT_FALSE(TakeTransferBody(first, body));
    StopTransfer(first);

    std::u16string url = mServer.WideUrl("/game.voa");
    WebTransfer* second = StartTransfer(url.c_str(), 100, 1100, mHandle, u"");
    ASSERT_NE(second, nullptr);
    DestroyWebHandle(mHandle);
    mHandle = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return GetTransferProgress(second) == 1.0f; }, 10000));
    body.SetName(u"owner's");
    ASSERT_TRUE(TakeTransferBody(second, body));
    EXPECT_EQ(BufferText(body), package.substr(100, 1000));
    EXPECT_EQ(NarrowText(body.GetName()), "owner's");
    auto requests = mServer.Requests("/game.voa");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("X-Run"), "7");
    EXPECT_EQ(requests[0].Header("Range"), "bytes=100-1099");

    WaitForStoppedTransfers();
    EXPECT_EQ(CapturedLog::Get().Count("[WS] Web download aborted at thread 0x"), 1u);
    EXPECT_EQ(mServer.RequestCount("/stall"), 1u);
}

} // namespace
