// A scriptable HTTP/1.1 server on 127.0.0.1 for tests: byte ranges, redirects, error storms,
// stalls, dropped connections, slow answers and a log of every request.
//
//   HttpTestServer server;
//   ASSERT_TRUE(server.Start());
//   server.Route("/pkg", HttpPlan::Body(data));                   // the normal answer
//   server.Queue("/pkg", HttpPlan::Body(data).DropAfter(100));     // the next request only
//   server.Queue("/pkg", HttpPlan::Error(503), 3);                 // then three 503s
//   ... StartDownload(..., server.WideUrl("/pkg").c_str(), ...)
//   EXPECT_EQ(server.Requests("/pkg")[1].Header("Range"), "bytes=100-1131");
//
// Each connection is served by a thread of its own, so several transfers run at once.
// Connections are persistent (HTTP/1.1 keep-alive) unless the plan ends them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// One request as the server received it.
struct HttpRequest {
    std::string mMethod;
    std::string mTarget; // as sent: path and query
    std::string mPath;   // the target without its query
    std::string mVersion;
    std::vector<std::pair<std::string, std::string>> mHeaders; // in arrival order
    int mConnection = 0;                                       // 1 for the server's first connection, 2 for the next, ...

    // The value of the first header of that name (case-insensitive), or "" when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// How to answer one request. Build with Body / Redirect / Error and adjust with the modifiers.
struct HttpPlan {
    static constexpr size_t kNever = size_t(-1);

    int mStatus = 200;
    std::string mBody;
    // A body of mGeneratedSize bytes written on the fly by mGenerate instead of mBody, so answers
    // of any size (past 4 GiB too) cost no memory. mGenerate fills count bytes from offset.
    uint64_t mGeneratedSize = 0;
    std::function<void(uint64_t offset, char* out, size_t count)> mGenerate;
    std::string mContentType = "application/octet-stream";
    std::vector<std::pair<std::string, std::string>> mHeaders; // extra answer headers
    // With true a 200 body answers "Range: bytes=a-b" / "bytes=a-" with 206 and the slice
    // (416 when a is past the end); with false the whole body comes back with 200.
    bool mHonourRanges = true;
    // Without Content-Length the body ends when the server closes the connection.
    bool mContentLength = true;
    // Close the connection after this many body bytes (the answer is cut short).
    size_t mDropAfter = kNever;
    // Send this many body bytes, then nothing more: the connection stays open (silent) until
    // the client goes away or the server stops.
    size_t mStallAfter = kNever;
    // Send the body in pieces of this many bytes, one every mTrickleDelayMs milliseconds.
    size_t mTrickleBytes = 0;
    int mTrickleDelayMs = 0;
    // Trickle the status line and headers as well (a slow-loris answer).
    bool mTrickleHead = false;
    // Wait this many milliseconds before the status line (a server slow to answer at all).
    int mHeadDelayMs = 0;
    // Read the request and never answer (the connection stays open).
    bool mSilent = false;
    // Answer with "Connection: close" and close afterwards.
    bool mClose = false;

    static HttpPlan Body(std::string body, std::string contentType = "application/octet-stream");
    // A body of size bytes made by generate (see mGenerate); ranges are honoured as for Body.
    static HttpPlan Generated(uint64_t size, std::function<void(uint64_t, char*, size_t)> generate);
    // 301, 302, 303 (or any status) with a Location header and a short body.
    static HttpPlan Redirect(int status, std::string location);
    static HttpPlan Error(int status, std::string body = "error page");
    // A 206 of part, the bytes from start, whose Content-Range names no total ("bytes a-b/*").
    static HttpPlan PartWithoutTotal(std::string part, uint64_t start = 0);

    HttpPlan IgnoreRanges() const;
    HttpPlan NoContentLength() const;
    HttpPlan DropAfter(size_t bytes) const;
    HttpPlan StallAfter(size_t bytes) const;
    HttpPlan Trickle(size_t bytes, int delayMs) const;
    // Trickles the head and the body alike.
    HttpPlan TrickleHead(size_t bytes, int delayMs) const;
    HttpPlan Silent() const;
    HttpPlan DelayHead(int delayMs) const;
    HttpPlan CloseAfter() const;
    HttpPlan WithHeader(std::string name, std::string value) const;
};

// A custom answer: receives the request and how many requests this path had before it.
typedef std::function<HttpPlan(const HttpRequest& request, int index)> HttpHandler;

class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Listens on 127.0.0.1 at the given port, or at a free one for 0 (a restart passes Port()).
    // False when the port cannot be had. Routes and the log survive Stop / Start.
    bool Start(uint16_t port = 0);
    // Closes the listener and every open connection (stalled and silent ones included) and
    // waits for their threads. The port is free again afterwards.
    void Stop();
    // Stop, then Start on the same port.
    bool Restart();
    bool IsRunning() const { return mListener >= 0; }

    uint16_t Port() const { return mPort; }
    // "http://127.0.0.1:<port><path>", and the same as UTF-16 for the engine's interfaces.
    std::string Url(const std::string& path) const;
    std::u16string WideUrl(const std::string& path) const;
    // An ASCII text as UTF-16.
    static std::u16string Wide(const std::string& text);

    // The answer to every request of path (matched without the query) once its queue is empty.
    void Route(const std::string& path, const HttpPlan& plan);
    // Answers the next `count` requests of path with plan, before the queued plans after it and
    // before the route's own answer.
    void Queue(const std::string& path, const HttpPlan& plan, int count = 1);
    // A custom answer for every request of path (queued plans still come first).
    void Handle(const std::string& path, HttpHandler handler);
    // Paths without a route get 404.

    // The log: every request received, in order.
    std::vector<HttpRequest> Requests() const;
    std::vector<HttpRequest> Requests(const std::string& path) const;
    size_t RequestCount(const std::string& path) const;
    // Waits until path has had at least count requests; false after timeoutMs.
    bool WaitForRequests(const std::string& path, size_t count, int timeoutMs) const;
    void ClearLog();
    // Connections accepted so far.
    int ConnectionCount() const;

private:
    struct Route_ {
        std::deque<HttpPlan> mQueued;
        bool mHasPlan = false;
        HttpPlan mPlan;
        HttpHandler mHandler;
    };

    void AcceptLoop();
    void Serve(int socket, int connection);
    HttpPlan PlanFor(const HttpRequest& request);
    // False when the connection must be closed after this answer.
    bool Answer(int socket, const HttpRequest& request, const HttpPlan& plan);
    bool SendAll(int socket, const char* data, size_t size);
    // Holds a connection open, silent, until the client closes it or the server stops.
    void HoldOpen(int socket);

    mutable std::mutex mLock;
    mutable std::condition_variable mLogSignal;
    std::map<std::string, Route_> mRoutes;
    std::map<std::string, int> mPathCounts;
    std::vector<HttpRequest> mLog;
    std::set<int> mOpenSockets;
    std::vector<std::thread> mConnectionThreads;
    int mConnections = 0;

    std::atomic<bool> mStopping{false};
    int mListener = -1;
    uint16_t mPort = 0;
    std::thread mAcceptThread;
};

// An address whose connections never complete: a listener with a full accept queue that never
// accepts, so the kernel ignores new connection attempts and a client waits for its connect
// time-out. Stands for an unreachable mirror.
class UnreachableAddress {
public:
    UnreachableAddress() = default;
    ~UnreachableAddress() { Stop(); }
    UnreachableAddress(const UnreachableAddress&) = delete;
    UnreachableAddress& operator=(const UnreachableAddress&) = delete;

    // False when the listener cannot be set up.
    bool Start();
    void Stop();
    uint16_t Port() const { return mPort; }
    std::string Url(const std::string& path) const;
    std::u16string WideUrl(const std::string& path) const;

private:
    int mListener = -1;
    std::vector<int> mFillers;
    uint16_t mPort = 0;
};
