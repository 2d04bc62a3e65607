// Size probes, pings through the multi set, the speed figure and the end points of a handle.
#include <gtest/gtest.h>

#include "Source/Common/Buffer.h"
#include "Source/Platform/WebDownload.h"
#include "support/HttpTestServer.h"
#include "web/WebTestSupport.h"

namespace {

std::string Narrow(const String& text) {
    std::string result;
    for (int32_t i = 0; i < text.GetLength(); ++i) result.push_back(char(text[i]));
    return result;
}

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mServer.Start()); }
    void TearDown() override { mServer.Stop(); }
    HttpTestServer mServer;
};

// 200 gives the type and the length without reading the body; 404 leaves both outputs alone;
// an answer without a length gives -1.
TEST_F(RequestTest, ProbeReportsTypeAndLengthOfSuccessOnly) {
    mServer.Route("/game.voa", HttpPlan::Body(std::string(3 * 1024 * 1024, 'v'), "application/x-voa"));
    mServer.Route("/stream", HttpPlan::Body(std::string(5000, 's'), "text/plain").NoContentLength());
    mServer.Route("/gone", HttpPlan::Error(404));

    String type;
    int32_t length = 0;
    ProbeUrl(mServer.WideUrl("/game.voa").c_str(), type, length);
    EXPECT_EQ(Narrow(type), "application/x-voa");
    EXPECT_EQ(length, 3 * 1024 * 1024);
    auto requests = mServer.Requests("/game.voa");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("User-Agent"), "libcurl-agent/1.0");
    EXPECT_EQ(requests[0].Header("Accept"), "*/*");

    type = u"untouched";
    length = 77;
    ProbeUrl(mServer.WideUrl("/gone").c_str(), type, length);
    EXPECT_EQ(Narrow(type), "untouched");
    EXPECT_EQ(length, 77);

    ProbeUrl(mServer.WideUrl("/stream").c_str(), type, length);
    EXPECT_EQ(Narrow(type), "text/plain");
    EXPECT_EQ(length, -1);

    // Nothing listens: a quick failure, outputs untouched.
    HttpTestServer closed;
    ASSERT_TRUE(closed.Start());
    std::u16string url = closed.WideUrl("/x");
    closed.Stop();
    length = 5;
    ProbeUrl(url.c_str(), type, length);
    EXPECT_EQ(length, 5);
}

// An address that accepts the connection and never answers: the probe gives up after the
// low-speed rule (10 s below 1 byte/s), not after the connection time-out of old.
// The probe holds its caller's thread: a server that never answers ends it at its time limit,
// long before the low-speed rule would.
TEST_F(RequestTest, ProbeOfSilentServerEndsAtItsTimeLimit) {
    mServer.Route("/silent", HttpPlan::Body("x").Silent());
    String type = u"t";
    int32_t length = 9;
    auto start = std::chrono::steady_clock::now();
    ProbeUrl(mServer.WideUrl("/silent").c_str(), type, length);
    long long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 9000);
    EXPECT_EQ(length, 9);
    EXPECT_EQ(Narrow(type), "t");
}

// An unreachable mirror holds the (synchronous) probe for the 5-second connection time-out.
// An address that never accepts: the probe's time limit ends it before the connect time-out.
TEST_F(RequestTest, ProbeOfUnreachableAddressEndsAtItsTimeLimit) {
    UnreachableAddress mirror;
    ASSERT_TRUE(mirror.Start());
    String type = u"t";
    int32_t length = 9;
    auto start = std::chrono::steady_clock::now();
    ProbeUrl(mirror.WideUrl("/game.voa").c_str(), type, length);
    long long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 4500);
    EXPECT_EQ(length, 9);
}

// The probe beside its owner's thread: a 2xx answer gives type and length, another answer
// nothing; answer headers later than the limit make it time out, while headers within the limit
// are waited for however slow the server is to start.
TEST_F(RequestTest, ProbeBesideTheCallerAnswersOrTimesOut) {
    mServer.Route("/game.voa", HttpPlan::Body(std::string(70000, 'v'), "application/x-voa"));
    mServer.Route("/late", HttpPlan::Body(std::string(5000, 'l')).DelayHead(1500));
    mServer.Route("/gone", HttpPlan::Error(404));
    auto finish = [](WebProbe* probe, String& type, int64_t& length) {
        WebProbeOutcome outcome = kProbeRunning;
        WaitUntil([&] { return (outcome = FinishProbe(probe, type, length)) != kProbeRunning; }, 15000);
        return outcome;
    };
    String type;
    int64_t length = 0;
    EXPECT_EQ(finish(StartProbe(mServer.WideUrl("/game.voa").c_str(), 5000), type, length), kProbeAnswered);
    EXPECT_EQ(Narrow(type), "application/x-voa");
    EXPECT_EQ(length, 70000);

    length = 0;
    EXPECT_EQ(finish(StartProbe(mServer.WideUrl("/late").c_str(), 5000), type, length), kProbeAnswered);
    EXPECT_EQ(length, 5000);
    length = 3;
    EXPECT_EQ(finish(StartProbe(mServer.WideUrl("/late").c_str(), 300), type, length), kProbeTimedOut);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(finish(StartProbe(mServer.WideUrl("/gone").c_str(), 5000), type, length), kProbeNoAnswer);
    EXPECT_EQ(length, 3);

    // Stopped at once, the probe still lets go on its own.
    StopProbe(StartProbe(mServer.WideUrl("/late").c_str(), 5000));
    WaitForStoppedTransfers();
}

// Pings go out bare through the multi set while a download runs on another connection; the
// poll reports the end once all are answered, and their handles are freed.
TEST_F(RequestTest, PingsRunThroughTheMultiSet) {
    std::string package = PatternBody(100000, 37);
    mServer.Route("/game.voa", HttpPlan::Body(package).StallAfter(5000));
    mServer.Route("/tick", HttpPlan::Body("pong"));
    WebHandle* download = CreateWebHandle(false);
    std::u16string url = mServer.WideUrl("/game.voa");
    std::atomic<float> progress{0.0f};
    Buffer target;
    WorkerThread* worker = StartDownload(&progress, url.c_str(), &target, 0, -1, download, u"");
    ASSERT_TRUE(WaitUntil([&] { return progress.load() > 0.0f; }, 5000));

    WebHandle* ping = CreateWebHandle(true);
    ASSERT_NE(ping, nullptr);
    EXPECT_TRUE(PollWebHandle(ping));
    for (int i = 0; i < 5; ++i) {
        SendWebRequest(mServer.WideUrl("/tick?sg=3&n=" + std::to_string(i)).c_str(), ping);
    }
    EXPECT_FALSE(PollWebHandle(ping));
    EXPECT_TRUE(WaitUntil([&] { return PollWebHandle(ping); }, 5000));
    auto requests = mServer.Requests("/tick");
    ASSERT_EQ(requests.size(), 5u);
    for (const HttpRequest& request : requests) {
        EXPECT_FALSE(request.HasHeader("User-Agent"));
        EXPECT_FALSE(request.HasHeader("Connection"));
    }
    EXPECT_LT(progress.load(), 1.0f);

    // Requests still running when the handle goes are freed with it.
    mServer.Route("/slowtick", HttpPlan::Body("late").Silent());
    SendWebRequest(mServer.WideUrl("/slowtick").c_str(), ping);
    EXPECT_TRUE(WaitUntil([&] { PollWebHandle(ping); return mServer.RequestCount("/slowtick") == 1; }, 5000));
    DestroyWebHandle(ping);

    // Without a multi set nothing is sent, and the poll has nothing to drive.
    SendWebRequest(mServer.WideUrl("/tick").c_str(), download);
    SendWebRequest(mServer.WideUrl("/tick").c_str(), nullptr);
    EXPECT_FALSE(PollWebHandle(download));
    EXPECT_FALSE(PollWebHandle(nullptr));
    DestroyWorker(worker);
    DestroyWebHandle(download);
    EXPECT_EQ(mServer.RequestCount("/tick"), 5u);
}

// A download on a handle with a multi set is driven by the poll on the caller's thread.
TEST_F(RequestTest, DownloadAttachedToTheMultiSet) {
    std::string data = PatternBody(300000, 41);
    mServer.Route("/list.txt", HttpPlan::Redirect(302, "/real/list.txt"));
    mServer.Route("/real/list.txt", HttpPlan::Body(data));
    WebHandle* handle = CreateWebHandle(true);
    std::u16string url = mServer.WideUrl("/list.txt");
    std::atomic<float> progress{0.5f};
    Buffer target;
    EXPECT_EQ(StartDownload(&progress, url.c_str(), &target, 1000, 201000, handle, u""), nullptr);
    EXPECT_EQ(progress.load(), 0.0f);
    EXPECT_TRUE(WaitUntil([&] { return PollWebHandle(handle) && progress.load() == 1.0f; }, 5000));
    EXPECT_EQ(BufferText(target), data.substr(1000, 200000));
    EXPECT_EQ(mServer.Requests("/real/list.txt")[0].Header("Range"), "bytes=1000-200999");

    // An error answer ends it with 0.0; one left running is freed with the handle.
    mServer.Route("/broken", HttpPlan::Error(500));
    url = mServer.WideUrl("/broken");
    StartDownload(&progress, url.c_str(), &target, 0, -1, handle, u"");
    EXPECT_TRUE(WaitUntil([&] { return PollWebHandle(handle); }, 5000));
    EXPECT_EQ(progress.load(), 0.0f);
    EXPECT_EQ(target.GetSize(), 0u);
    mServer.Route("/stuck", HttpPlan::Body(data).StallAfter(10));
    url = mServer.WideUrl("/stuck");
    StartDownload(&progress, url.c_str(), &target, 0, -1, handle, u"");
    PollWebHandle(handle);
    DestroyWebHandle(handle);
}

// The speed figure is read on the host's thread while the worker transfers on the handle.
TEST_F(RequestTest, SpeedAndEndpoints) {
    EXPECT_EQ(GetDownloadSpeed(nullptr), 0.0);
    EXPECT_EQ(Narrow(GetLocalEndpoint(nullptr)), "NA");
    EXPECT_EQ(Narrow(GetPeerEndpoint(nullptr)), "NA");
    WebHandle* handle = CreateWebHandle(false);
    EXPECT_EQ(GetDownloadSpeed(handle), 0.0);
    EXPECT_EQ(Narrow(GetPeerEndpoint(handle)), "NA");

    std::string data = PatternBody(1024 * 1024, 43);
    mServer.Route("/game.voa", HttpPlan::Body(data).Trickle(32 * 1024, 20));
    std::u16string url = mServer.WideUrl("/game.voa");
    std::atomic<float> progress{0.0f};
    Buffer target;
    WorkerThread* worker = StartDownload(&progress, url.c_str(), &target, 0, -1, handle, u"");
    double during = 0.0;
    while (progress.load() != 1.0f) {
        double speed = GetDownloadSpeed(handle);
        if (progress.load() > 0.2f && speed > during) during = speed;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    DestroyWorker(worker);
    // About 1.6 MB/s is sent; the figure is in kilobytes of 1000 bytes per second.
    EXPECT_GT(during, 100.0);
    EXPECT_LT(during, 100000.0);
    EXPECT_GT(GetDownloadSpeed(handle), 100.0);
    EXPECT_EQ(BufferText(target), data);

    std::string peer = Narrow(GetPeerEndpoint(handle));
    std::string local = Narrow(GetLocalEndpoint(handle));
    EXPECT_EQ(peer, "127.0.0.1:" + std::to_string(mServer.Port()));
    EXPECT_EQ(local.rfind("127.0.0.1:", 0), 0u);
    EXPECT_NE(local, peer);
    DestroyWebHandle(handle);
}

} // namespace
