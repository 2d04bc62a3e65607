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
class WebTransfer;

// Attached to every easy handle of CreateWebHandle through CURLOPT_PRIVATE.
struct WebHandleState {
    // The owner's reference and one per download running on the handle: a download that was
    // stopped without waiting keeps the handle alive until it lets go, and the last reference
    // frees it (on whichever thread that is).
    std::atomic<int32_t> mReferences{1};
    // Set while an attempt transfers on the handle's own easy handle. An attempt that finds it
    // set (a stopped download has not let go yet) transfers on an easy handle of its own.
    std::atomic<bool> mEasyBusy{false};
    // Guards the redirect memory: a stopped download may still record a redirect in it.
    std::mutex mRedirectLock;
    Link<RedirectEntry> mRedirects;
    // The handle's header lines and the lines added since, joined under the lock. Every attempt
    // hands libcurl a copy of its own, so a header added while a transfer runs never races it.
    curl_slist* mHeaders = _null;
    curl_slist* mPendingHeaders = _null;
    std::mutex mHeaderLock;
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
    // The offset of the last resumption written to the trace (each break is reported once).
    uint64_t mResumeReported = 0;
    // Offsets in the resource are 64-bit: a package may pass 2 and even 4 GiB.
    uint64_t mRangeStart = 0;
    int64_t mRangeEnd = -1;
    WebHandle* mHandle = _null;
    // Set when the request lets go of mHandle as it ends: a reference it holds on the caller's
    // handle, or a handle an attempt made and kept after a redirect.
    bool mReleasesHandle = false;
    // The transfer whose body and progress the request fills, or none (released with the request).
    WebTransfer* mTransfer = _null;
    // Failed attempts since the server last sent part of the resource, and the wait before the
    // next attempt.
    uint32_t mFailures = 0;
    uint32_t mRetryWait = 0;
    Array<WebChunk*> mChunks;

    // The attempt under way.
    CURL* mEasy = _null;
    WebHandleState* mState = _null;
    curl_slist* mAttemptHeaders = _null;
    uint64_t mFrom = 0;
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
// Whether downloads on this handle run in its multi set (on the caller's thread, not a worker).
inline bool HasMultiSet(const WebHandleState* state) { return state != _null && state->mMulti != _null; }
// Gives the easy handle its address (UTF-8 of url, none taken as empty; libcurl keeps a copy).
void SetEasyUrl(CURL* easy, const WideChar* url);
// Restricts an easy handle to kWebProtocols, for transfers and redirects.
void RestrictProtocols(CURL* easy);
// Gives the easy handle the defaults of every handle of this service (connection time-out, user
// agent, protocols).
void ConfigureEasy(CURL* easy);
// A copy of the handle's header lines (those added since the last call included) for one
// transfer; the caller frees it with curl_slist_free_all once the transfer is over.
curl_slist* CopyHeaders(WebHandleState* state);
// The last redirect target recorded for url; false when there is none.
bool FindRedirect(WebHandleState* state, const String& url, String& target);
// Takes a reference on the handle for a download that may outlive the caller's use of it.
void HoldWebHandle(WebHandle* handle);
// Publishes the easy handle's current download speed on its state.
void PublishSpeed(WebHandleState* state, CURL* easy);

// One attempt of a download; true when it is finished and must not be retried.
bool PerformDownload(WebDownload* request);
// Moves what the attempt received into the target (nothing for a 4xx/5xx status). result is the
// attempt's transfer result.
void FinishAttempt(WebDownload* request, long status, CURLcode result);
// Counts a failed attempt, chooses the wait before the next one and tells the transfer whether
// the same address can ever answer it.
void NoteFailedAttempt(WebDownload* request, long status, CURLcode result);
// Follows a 301/302/303 answer that easy received for a transfer on handle; false when the
// redirect is refused.
bool FollowRedirect(WebDownload* request, CURL* easy, WebHandle* handle, bool handleMadeByAttempt);
// Ends an attempt's transfer result: a transfer cut at the range limit counts as complete.
CURLcode AttemptResult(const WebDownload* request, CURLcode result);
