// Redirects remembered per handle, refused redirects, and what a reused handle sends.
#include <gtest/gtest.h>

#include "Source/Common/Buffer.h"
#include "Source/Platform/WebDownload.h"
#include "support/HttpTestServer.h"
#include "web/WebTestSupport.h"

namespace {

class RedirectTest : public WebHandleTest {
protected:
    // Downloads path completely on the given handle; returns the body.
    std::string Download(const std::string& path, WebHandle* handle, uint32_t rangeStart = 0,
                         int32_t rangeEnd = -1, const char16_t* cookie = u"") {
        std::u16string url = mServer.WideUrl(path);
        std::atomic<float> progress{-1.0f};
        Buffer target;
        WorkerThread* worker = StartDownload(&progress, url.c_str(), &target, rangeStart, rangeEnd, handle, cookie);
        EXPECT_NE(worker, nullptr);
        EXPECT_TRUE(WaitForCompletion(progress));
        DestroyWorker(worker);
        return BufferText(target);
    }
};

// 302, 301 and 303 are followed at once, and the handle remembers where the address led: the
// next download of the same address goes straight to the last target. Another handle does not.
TEST_F(RedirectTest, FollowedAndRememberedPerHandle) {
    std::string package = PatternBody(3000, 23);
    mServer.Route("/game.voa", HttpPlan::Redirect(302, mServer.Url("/mirror1/game.voa")));
    mServer.Route("/mirror1/game.voa", HttpPlan::Redirect(301, "/mirror2/game.voa"));
    mServer.Route("/mirror2/game.voa", HttpPlan::Redirect(303, mServer.Url("/cdn/game.voa")));
    mServer.Route("/cdn/game.voa", HttpPlan::Body(package));

    EXPECT_EQ(Download("/game.voa", mHandle, 0, 1132), package.substr(0, 1132));
    auto requests = mServer.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].mPath, "/game.voa");
    EXPECT_EQ(requests[3].mPath, "/cdn/game.voa");
    for (const HttpRequest& request : requests) EXPECT_EQ(request.Header("Range"), "bytes=0-1131");

    mServer.ClearLog();
    EXPECT_EQ(Download("/game.voa", mHandle, 1132, 2000), package.substr(1132, 868));
    requests = mServer.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].mPath, "/cdn/game.voa");
    EXPECT_EQ(requests[0].Header("Range"), "bytes=1132-1999");

    mServer.ClearLog();
    WebHandle* other = CreateWebHandle(false);
    EXPECT_EQ(Download("/game.voa", other), package);
    EXPECT_EQ(mServer.Requests().size(), 4u);
    DestroyWebHandle(other);
}

// A loop: eight targets are recorded for the address, the ninth redirect is refused and its
// answer becomes the final one (a finished download holding the redirect page).
TEST_F(RedirectTest, NinthRedirectIsRefused) {
    mServer.Handle("/loop", [this](const HttpRequest& request, int) {
        int step = atoi(request.mTarget.substr(request.mTarget.find('=') + 1).c_str());
        return HttpPlan::Redirect(302, mServer.Url("/loop?step=" + std::to_string(step + 1)));
    });
    CapturedLog::Get().Clear();
    std::string body = Download("/loop?step=0", mHandle);
    auto requests = mServer.Requests("/loop");
    ASSERT_EQ(requests.size(), 9u);
    EXPECT_EQ(requests[8].mTarget, "/loop?step=8");
    EXPECT_EQ(body, "moved to " + mServer.Url("/loop?step=9"));
    EXPECT_EQ(CapturedLog::Get().Count("[WS] Web redirect refused"), 1u);

    // The address now maps to its eighth target, whose redirect is refused at once.
    mServer.ClearLog();
    EXPECT_EQ(Download("/loop?step=0", mHandle), "moved to " + mServer.Url("/loop?step=9"));
    ASSERT_EQ(mServer.Requests().size(), 1u);
    EXPECT_EQ(mServer.Requests()[0].mTarget, "/loop?step=8");
}

// A server may not send the loader to another protocol: file and ftp targets are refused like
// a ninth redirect, nothing outside http and https is read.
TEST_F(RedirectTest, OtherSchemesAreRefused) {
    mServer.Route("/local", HttpPlan::Redirect(302, "file:///etc/hostname"));
    mServer.Route("/ftp", HttpPlan::Redirect(301, "ftp://127.0.0.1/pub/game.voa"));
    EXPECT_EQ(Download("/local", mHandle), "moved to file:///etc/hostname");
    EXPECT_EQ(Download("/ftp", nullptr), "moved to ftp://127.0.0.1/pub/game.voa");
    EXPECT_EQ(mServer.Requests().size(), 2u);

    // The refused target was not remembered either.
    mServer.ClearLog();
    mServer.Route("/local", HttpPlan::Body("now here"));
    EXPECT_EQ(Download("/local", mHandle), "now here");
}

// A download without a handle adopts the one its attempt made once it has been redirected;
// a later retry stays on the target.
TEST_F(RedirectTest, WithoutHandleFollowsRedirectAcrossRetries) {
    std::string data = PatternBody(10000, 29);
    mServer.Route("/list.txt", HttpPlan::Redirect(302, "/real/list.txt"));
    mServer.Route("/real/list.txt", HttpPlan::Body(data));
    mServer.Queue("/real/list.txt", HttpPlan::Body(data).DropAfter(2500));
    EXPECT_EQ(Download("/list.txt", nullptr), data);
    auto requests = mServer.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].mPath, "/real/list.txt");
    EXPECT_EQ(requests[2].Header("Range"), "bytes=2500-");
}

// Headers added to a handle reach the server on later transfers, also when added while a
// download runs; cookies and ranges of one download do not leak into the next.
TEST_F(RedirectTest, HeadersCookiesAndRangesOnAReusedHandle) {
    std::string data = PatternBody(5000, 31);
    mServer.Route("/a", HttpPlan::Body(data));
    Download("/a", mHandle, 0, 1132, u"session=abc; lang=en");
    AddWebHeader(mHandle, u"Host: cdn.example.com");
    AddWebHeader(mHandle, u"");
    AddWebHeader(mHandle, nullptr);
    AddWebHeader(nullptr, u"X-Ignored: 1");
    Download("/a", mHandle);
    auto requests = mServer.Requests("/a");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Cookie"), "session=abc; lang=en");
    EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:" + std::to_string(mServer.Port()));
    EXPECT_EQ(requests[1].Header("Host"), "cdn.example.com");
    EXPECT_FALSE(requests[1].HasHeader("Cookie"));
    EXPECT_FALSE(requests[1].HasHeader("Range"));
    EXPECT_EQ(requests[1].Header("Accept"), "*/*");

    // Added while the first attempt stalls: the retry carries it.
    mServer.ClearLog();
    mServer.Queue("/a", HttpPlan::Body(data).DropAfter(10).Trickle(5, 300));
    std::u16string url = mServer.WideUrl("/a");
    std::atomic<float> progress{0.0f};
    Buffer target;
    WorkerThread* worker = StartDownload(&progress, url.c_str(), &target, 0, -1, mHandle, u"");
    ASSERT_TRUE(mServer.WaitForRequests("/a", 1, 5000));
    AddWebHeader(mHandle, u"X-Client: vexal");
    ASSERT_TRUE(WaitForCompletion(progress));
    DestroyWorker(worker);
    requests = mServer.Requests("/a");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("X-Client"));
    EXPECT_EQ(requests[1].Header("X-Client"), "vexal");
    EXPECT_EQ(requests[1].Header("Host"), "cdn.example.com");
    EXPECT_EQ(BufferText(target), data);
}

} // namespace
