// The scriptable HTTP/1.1 test server: one accept thread, one thread per connection.
#include "support/HttpTestServer.h"

#include "support/TestSockets.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

const char* Reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// Parses "bytes=a-b" or "bytes=a-" (one range). False for anything else.
bool ParseRange(const std::string& value, uint64_t& first, uint64_t& last, bool& open) {
    if (value.compare(0, 6, "bytes=") != 0) return false;
    std::string range = value.substr(6);
    size_t dash = range.find('-');
    if (dash == std::string::npos || dash == 0 || range.find(',') != std::string::npos) return false;
    char* end = nullptr;
    std::string a = range.substr(0, dash), b = range.substr(dash + 1);
    first = uint64_t(strtoull(a.c_str(), &end, 10));
    if (*end != 0) return false;
    open = b.empty();
    if (!open) {
        last = uint64_t(strtoull(b.c_str(), &end, 10));
        if (*end != 0 || last < first) return false;
    }
    return true;
}

} // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& header : mHeaders) {
        if (SameTextIgnoringCase(header.first.c_str(), name.c_str())) return header.second;
    }
    return std::string();
}

bool HttpRequest::HasHeader(const std::string& name) const {
    for (const auto& header : mHeaders) {
        if (SameTextIgnoringCase(header.first.c_str(), name.c_str())) return true;
    }
    return false;
}

HttpPlan HttpPlan::Body(std::string body, std::string contentType) {
    HttpPlan plan;
    plan.mBody = std::move(body);
    plan.mContentType = std::move(contentType);
    return plan;
}

HttpPlan HttpPlan::Generated(uint64_t size, std::function<void(uint64_t, char*, size_t)> generate) {
    HttpPlan plan;
    plan.mGeneratedSize = size;
    plan.mGenerate = std::move(generate);
    return plan;
}

HttpPlan HttpPlan::Redirect(int status, std::string location) {
    HttpPlan plan;
    plan.mStatus = status;
    plan.mBody = "moved to " + location;
    plan.mContentType = "text/plain";
    plan.mHeaders.emplace_back("Location", std::move(location));
    return plan;
}

HttpPlan HttpPlan::Error(int status, std::string body) {
    HttpPlan plan;
    plan.mStatus = status;
    plan.mBody = std::move(body);
    plan.mContentType = "text/html";
    return plan;
}

HttpPlan HttpPlan::PartWithoutTotal(std::string part, uint64_t start) {
    HttpPlan p = Body(std::move(part)).IgnoreRanges();
    p.mStatus = 206;
    p.mHeaders.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" +
                                                 std::to_string(start + p.mBody.size() - 1) + "/*");
    return p;
}

HttpPlan HttpPlan::IgnoreRanges() const {
    HttpPlan p = *this;
    p.mHonourRanges = false;
    return p;
}
HttpPlan HttpPlan::NoContentLength() const {
    HttpPlan p = *this;
    p.mContentLength = false;
    return p;
}
HttpPlan HttpPlan::DropAfter(size_t bytes) const {
    HttpPlan p = *this;
    p.mDropAfter = bytes;
    return p;
}
HttpPlan HttpPlan::StallAfter(size_t bytes) const {
    HttpPlan p = *this;
    p.mStallAfter = bytes;
    return p;
}
HttpPlan HttpPlan::Silent() const {
    HttpPlan p = *this;
    p.mSilent = true;
    return p;
}
HttpPlan HttpPlan::DelayHead(int delayMs) const {
    HttpPlan p = *this;
    p.mHeadDelayMs = delayMs;
    return p;
}
HttpPlan HttpPlan::CloseAfter() const {
    HttpPlan p = *this;
    p.mClose = true;
    return p;
}
HttpPlan HttpPlan::Trickle(size_t bytes, int delayMs) const {
    HttpPlan p = *this;
    p.mTrickleBytes = bytes;
    p.mTrickleDelayMs = delayMs;
    return p;
}
HttpPlan HttpPlan::TrickleHead(size_t bytes, int delayMs) const {
    HttpPlan p = Trickle(bytes, delayMs);
    p.mTrickleHead = true;
    return p;
}
HttpPlan HttpPlan::WithHeader(std::string name, std::string value) const {
    HttpPlan p = *this;
    p.mHeaders.emplace_back(std::move(name), std::move(value));
    return p;
}

HttpTestServer::HttpTestServer() {}

HttpTestServer::~HttpTestServer() { Stop(); }

bool HttpTestServer::Start(uint16_t port) {
    if (mListener >= 0) return true;
    int listener = OpenTestSocket();
    if (listener < 0) return false;
    SetTestSocketOption(listener, SOL_SOCKET, SO_REUSEADDR, 1);
    const int bound = BindLoopback(listener, 64, port);
    if (bound == 0) {
        CloseTestSocket(listener);
        return false;
    }
    mPort = uint16_t(bound);
    mStopping.store(false);
    mListener = listener;
    mAcceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void HttpTestServer::Stop() {
    if (mListener < 0) return;
    mStopping.store(true);
    const int listener = WakeTestListener(mListener);
    if (mAcceptThread.joinable()) mAcceptThread.join();
    if (listener >= 0) CloseTestSocket(listener);
    mListener = -1;
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(mLock);
        for (int socket : mOpenSockets) ShutdownTestSocket(socket);
        threads.swap(mConnectionThreads);
    }
    for (std::thread& thread : threads) thread.join();
}

bool HttpTestServer::Restart() {
    uint16_t port = mPort;
    Stop();
    return Start(port);
}

std::string HttpTestServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}

std::u16string HttpTestServer::Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string HttpTestServer::WideUrl(const std::string& path) const { return Wide(Url(path)); }

void HttpTestServer::Route(const std::string& path, const HttpPlan& plan) {
    std::lock_guard<std::mutex> guard(mLock);
    Route_& route = mRoutes[path];
    route.mHasPlan = true;
    route.mPlan = plan;
    route.mHandler = nullptr;
}

void HttpTestServer::Queue(const std::string& path, const HttpPlan& plan, int count) {
    std::lock_guard<std::mutex> guard(mLock);
    Route_& route = mRoutes[path];
    for (int i = 0; i < count; ++i) route.mQueued.push_back(plan);
}

void HttpTestServer::Handle(const std::string& path, HttpHandler handler) {
    std::lock_guard<std::mutex> guard(mLock);
    Route_& route = mRoutes[path];
    route.mHandler = std::move(handler);
    route.mHasPlan = false;
}

std::vector<HttpRequest> HttpTestServer::Requests() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mLog;
}

std::vector<HttpRequest> HttpTestServer::Requests(const std::string& path) const {
    std::lock_guard<std::mutex> guard(mLock);
    std::vector<HttpRequest> result;
    for (const HttpRequest& request : mLog) {
        if (request.mPath == path) result.push_back(request);
    }
    return result;
}

size_t HttpTestServer::RequestCount(const std::string& path) const { return Requests(path).size(); }

bool HttpTestServer::WaitForRequests(const std::string& path, size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(mLock);
    return mLogSignal.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        size_t seen = 0;
        for (const HttpRequest& request : mLog) {
            if (request.mPath == path) ++seen;
        }
        return seen >= count;
    });
}

void HttpTestServer::ClearLog() {
    std::lock_guard<std::mutex> guard(mLock);
    mLog.clear();
}

int HttpTestServer::ConnectionCount() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mConnections;
}

void HttpTestServer::AcceptLoop() {
    while (!mStopping.load()) {
        int socket = AcceptTestSocket(mListener);
        if (socket < 0) {
            if (mStopping.load()) break;
            if (errno == EINTR || errno == ECONNABORTED) continue;
            break;
        }
        SetTestSocketOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
        std::lock_guard<std::mutex> guard(mLock);
        int connection = ++mConnections;
        mOpenSockets.insert(socket);
        mConnectionThreads.emplace_back([this, socket, connection] { Serve(socket, connection); });
    }
}

HttpPlan HttpTestServer::PlanFor(const HttpRequest& request) {
    HttpHandler handler;
    int index;
    {
        std::lock_guard<std::mutex> guard(mLock);
        index = mPathCounts[request.mPath]++;
        auto found = mRoutes.find(request.mPath);
        if (found == mRoutes.end()) return HttpPlan::Error(404, "not found");
        Route_& route = found->second;
        if (!route.mQueued.empty()) {
            HttpPlan plan = route.mQueued.front();
            route.mQueued.pop_front();
            return plan;
        }
        if (route.mHasPlan) return route.mPlan;
        if (!route.mHandler) return HttpPlan::Error(404, "not found");
        handler = route.mHandler;
    }
    return handler(request, index);
}

void HttpTestServer::Serve(int socket, int connection) {
    std::string pending;
    // Receives into pending until enough(); false when the peer closed first.
    auto receiveUntil = [&](auto enough) {
        char block[16384];
        while (!enough()) {
            long count = ReceiveTestSocket(socket, block, sizeof(block));
            if (count <= 0) return false;
            pending.append(block, size_t(count));
        }
        return true;
    };
    while (!mStopping.load()) {
        size_t end = std::string::npos;
        if (!receiveUntil([&] { return (end = pending.find("\r\n\r\n")) != std::string::npos; })) break;

        HttpRequest request;
        request.mConnection = connection;
        std::string head = pending.substr(0, end);
        pending.erase(0, end + 4);
        size_t lineEnd = head.find("\r\n");
        std::string line = head.substr(0, lineEnd);
        size_t space1 = line.find(' '), space2 = line.rfind(' ');
        if (space1 == std::string::npos || space2 == space1) break;
        request.mMethod = line.substr(0, space1);
        request.mTarget = line.substr(space1 + 1, space2 - space1 - 1);
        request.mVersion = line.substr(space2 + 1);
        request.mPath = request.mTarget.substr(0, request.mTarget.find('?'));
        while (lineEnd != std::string::npos) {
            size_t next = head.find("\r\n", lineEnd + 2);
            std::string header = head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos
                                                                                    : next - lineEnd - 2);
            size_t colon = header.find(':');
            if (colon != std::string::npos) {
                request.mHeaders.emplace_back(header.substr(0, colon), Trim(header.substr(colon + 1)));
            }
            lineEnd = next;
        }
        // A request body is read and ignored.
        size_t bodyLength = size_t(strtoull(request.Header("Content-Length").c_str(), nullptr, 10));
        if (!receiveUntil([&] { return pending.size() >= bodyLength; })) break;
        pending.erase(0, bodyLength);

        {
            std::lock_guard<std::mutex> guard(mLock);
            mLog.push_back(request);
        }
        mLogSignal.notify_all();
        if (!Answer(socket, request, PlanFor(request))) break;
    }
    std::lock_guard<std::mutex> guard(mLock);
    mOpenSockets.erase(socket);
    CloseTestSocket(socket);
}

bool HttpTestServer::Answer(int socket, const HttpRequest& request, const HttpPlan& plan) {
    if (plan.mSilent) {
        HoldOpen(socket);
        return false;
    }
    int status = plan.mStatus;
    const std::string& whole = plan.mBody;
    const bool generated = bool(plan.mGenerate);
    const uint64_t wholeSize = generated ? plan.mGeneratedSize : whole.size();
    uint64_t offset = 0, length = wholeSize;
    std::string contentRange;
    uint64_t first = 0, last = 0;
    bool open = false;
    if (status == 200 && plan.mHonourRanges && request.HasHeader("Range") &&
        ParseRange(request.Header("Range"), first, last, open)) {
        if (first >= wholeSize) {
            status = 416;
            contentRange = "bytes */" + std::to_string(wholeSize);
            length = 0;
        } else {
            if (open || last >= wholeSize) last = wholeSize - 1;
            status = 206;
            offset = first;
            length = last - first + 1;
            contentRange = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                           std::to_string(wholeSize);
        }
    }
    bool keepAlive = plan.mContentLength && !plan.mClose;
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    head += "Content-Type: " + plan.mContentType + "\r\n";
    if (plan.mContentLength) head += "Content-Length: " + std::to_string(length) + "\r\n";
    if (!contentRange.empty()) head += "Content-Range: " + contentRange + "\r\n";
    if (plan.mHonourRanges && status != 416) head += "Accept-Ranges: bytes\r\n";
    for (const auto& header : plan.mHeaders) head += header.first + ": " + header.second + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += "\r\n";
    for (int waited = 0; waited < plan.mHeadDelayMs && !mStopping.load(); waited += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (mStopping.load()) return false;
    if (plan.mTrickleHead && plan.mTrickleBytes > 0) {
        for (size_t sent = 0; sent < head.size(); sent += plan.mTrickleBytes) {
            size_t piece = head.size() - sent < plan.mTrickleBytes ? head.size() - sent : plan.mTrickleBytes;
            if (!SendAll(socket, head.data() + sent, piece)) return false;
            for (int waited = 0; waited < plan.mTrickleDelayMs && !mStopping.load(); waited += 5) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (mStopping.load()) return false;
        }
    } else if (!SendAll(socket, head.data(), head.size())) {
        return false;
    }
    if (request.mMethod == "HEAD") return keepAlive;

    uint64_t cut = length;
    if (plan.mDropAfter < cut) cut = plan.mDropAfter;
    if (plan.mStallAfter < cut) cut = plan.mStallAfter;
    std::string piece;
    uint64_t sent = 0;
    while (sent < cut) {
        uint64_t count = cut - sent;
        if (plan.mTrickleBytes > 0 && count > plan.mTrickleBytes) count = plan.mTrickleBytes;
        const char* data;
        if (generated) {
            if (count > 65536) count = 65536;
            piece.resize(size_t(count));
            plan.mGenerate(offset + sent, &piece[0], size_t(count));
            data = piece.data();
        } else {
            data = whole.data() + offset + sent;
        }
        if (!SendAll(socket, data, size_t(count))) return false;
        sent += count;
        if (plan.mTrickleBytes > 0 && sent < cut) {
            for (int waited = 0; waited < plan.mTrickleDelayMs && !mStopping.load(); waited += 5) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (mStopping.load()) return false;
        }
    }
    if (cut < length) {
        if (plan.mStallAfter == cut) HoldOpen(socket);
        return false;
    }
    return keepAlive;
}

bool HttpTestServer::SendAll(int socket, const char* data, size_t size) {
    while (size > 0) {
        long count = SendTestSocket(socket, data, size);
        if (count <= 0) {
            if (count < 0 && errno == EINTR) continue;
            return false;
        }
        data += count;
        size -= size_t(count);
    }
    return true;
}

void HttpTestServer::HoldOpen(int socket) {
    char block[4096];
    while (!mStopping.load()) {
        int ready = WaitTestSocketReadable(socket, 20);
        if (ready < 0) return;
        if (ready > 0 && ReceiveTestSocket(socket, block, sizeof(block)) <= 0) return;
    }
}

bool UnreachableAddress::Start() {
    if (mListener >= 0) return true;
    mListener = OpenTestSocket();
    const int bound = BindLoopback(mListener, 0);
    if (bound == 0) {
        Stop();
        return false;
    }
    mPort = uint16_t(bound);
    // Fill the accept queue; connections beyond it get no answer to their SYN.
    for (int i = 0; i < 2; ++i) {
        int filler = OpenTestSocket(true);
        if (filler < 0) break;
        ConnectLoopback(filler, mPort); // under way, never answered
        mFillers.push_back(filler);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
}

void UnreachableAddress::Stop() {
    for (int filler : mFillers) CloseTestSocket(filler);
    mFillers.clear();
    if (mListener >= 0) CloseTestSocket(mListener);
    mListener = -1;
}

std::string UnreachableAddress::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}

std::u16string UnreachableAddress::WideUrl(const std::string& path) const {
    return HttpTestServer::Wide(Url(path));
}
