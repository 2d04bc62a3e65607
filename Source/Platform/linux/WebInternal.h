// Shared records of the web download service's sources (never included outside them).
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <mutex>

#include "Common/Array.h"
#include "Common/Link.h"
#include "Source/Platform/WebDownload.h"

// Longest URL or cookie handed to libcurl, in UTF-8 bytes with the terminator.
constexpr int32_t kWebUrlBytes = 4096;
// Longest request header line, in UTF-8 bytes with the terminator.
constexpr int32_t kWebHeaderBytes = 1024;
// A handle remembers at most this many redirect targets for one source URL.
constexpr int32_t kMaxRedirectTargets = 8;

// One source URL and the targets it was redirected to, oldest first.
struct RedirectEntry {
    RedirectEntry* mPrev = _null;
    RedirectEntry* mNext = _null;
    String mSource;
    Array<String> mTargets;
};

struct WebDownload;

// Attached to every easy handle of CreateWebHandle through CURLOPT_PRIVATE.
struct WebHandleState {
    Link<RedirectEntry> mRedirects;
    // The list libcurl reads at transfer time, and the lines added since, which join it only
    // between transfers (so a header added while a worker transfers never races libcurl).
    curl_slist* mHeaders = _null;
    curl_slist* mPendingHeaders = _null;
    std::mutex mHeaderLock;
    uint8_t mHeadersApplied = 0;
    CURLM* mMulti = _null;
    // The download the multi set is running, and its completion once the multi set reported it.
    WebDownload* mAttached = _null;
    bool mAttachedDone = false;
    CURLcode mAttachedResult = CURLE_OK;
    // The fire-and-forget requests still in the multi set.
    Array<CURL*> mRequests;
    // Bytes per second of the current or last transfer, published by the transferring thread.
    std::atomic<double> mSpeed{0.0};
};

// Storage for received bytes; kept across the attempts of one download.
struct WebChunk {
    Buffer mStorage;
    uint32_t mUsed = 0;
};

// One download request; owned by the task running it (or by the handle's multi set).
struct WebDownload {
    String mUrl;
    Buffer* mTarget = _null;
    String mCookie;
    WorkerThread* mWorker = _null;
    std::atomic<float>* mProgress = _null;
    uint32_t mReceivedBefore = 0;
    uint32_t mRangeStart = 0;
    int32_t mRangeEnd = -1;
    WebHandle* mHandle = _null;
    // Set when the handle was made by an attempt and kept after a redirect: freed with the request.
    bool mOwnsHandle = false;
    Array<WebChunk*> mChunks;

    // The attempt under way.
    CURL* mEasy = _null;
    WebHandleState* mState = _null;
    uint32_t mFrom = 0;
    int32_t mChunkIndex = 0;
    uint64_t mAttemptBytes = 0;
    uint64_t mAttemptLimit = 0;
    bool mLimitReached = false;
    bool mOutOfMemory = false;

    ~WebDownload();
};

inline CURL* EasyOf(WebHandle* handle) { return reinterpret_cast<CURL*>(handle); }
inline WebHandle* HandleOf(CURL* easy) { return reinterpret_cast<WebHandle*>(easy); }

// The handle's state, or none.
WebHandleState* GetHandleState(WebHandle* handle);
// Restricts an easy handle to kWebProtocols, for transfers and redirects.
void RestrictProtocols(CURL* easy);
// Joins the headers added since the last transfer and gives the list to libcurl once.
void ApplyHeaders(WebHandleState* state, CURL* easy);
// The last redirect target recorded for url, or none.
const String* FindRedirect(WebHandleState* state, const String& url);
// Publishes the easy handle's current download speed on its state.
void PublishSpeed(WebHandleState* state, CURL* easy);

// One attempt of a download; true when it is finished and must not be retried.
bool PerformDownload(WebDownload* request);
// Moves what the attempt received into the target (nothing for a 4xx/5xx status).
void FinishAttempt(WebDownload* request, long status);
// Follows a 301/302/303 answer on the handle; false when the redirect is refused.
bool FollowRedirect(WebDownload* request, WebHandle* handle, bool handleMadeByAttempt);
// Ends an attempt's transfer result: a transfer cut at the range limit counts as complete.
CURLcode AttemptResult(const WebDownload* request, CURLcode result);
