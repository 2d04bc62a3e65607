// Size probes, fire-and-forget requests and the multi set that runs them.

#include <chrono>

#include "Source/Common/StringEncoding.h"
#include "Source/Platform/curl/WebInternal.h"

namespace {

constexpr int kAbortTransfer = 42;
constexpr long kLowSpeedLimit = 1;
constexpr long kLowSpeedTime = 10;
// The probe runs on the caller's thread (the host's, for the loader): a server that answers its
// headers a byte at a time must not hold that thread longer than this, connection included.
constexpr long kProbeTimeLimitMs = 2000;
// Longest content type kept, in units with the terminator.
constexpr int32_t kContentTypeUnits = 1024;

size_t DropData(char*, size_t size, size_t count, void*) { return size * count; }

// Ends a probe as soon as the answer's length is known.
int ProbeProgress(void*, curl_off_t downloadTotal, curl_off_t, curl_off_t, curl_off_t) {
    return downloadTotal != 0 ? kAbortTransfer : 0;
}

// Sets a probe up on easy: the handle's headers (returned, for the caller to free with the
// probe), the address, no body kept, progress to `progress` with `data`, and the low-speed rule.
curl_slist* SetUpProbe(CURL* easy, WebHandle* handle, const WideChar* url, curl_xferinfo_callback progress,
                       void* data) {
    WebHandleState* state = GetHandleState(handle);
    curl_slist* headers = state != _null ? CopyHeaders(state) : _null;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    SetEasyUrl(easy, url);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DropData);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, data);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimit);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kLowSpeedTime);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    return headers;
}

// Whether the answer's status is 2xx.
bool IsSuccess(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status <= 299;
}

// A probe's answer: its length (-1 when not given) and, when it names one, its content type.
// Whether it named one.
bool ReadProbeAnswer(CURL* easy, String& type, int64_t& length) {
    curl_off_t announced = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    length = int64_t(announced);
    char* named = _null;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &named) != CURLE_OK || named == _null)
        return false;
    WideChar wide[kContentTypeUnits];
    Utf8ToUtf16(wide, kContentTypeUnits, named);
    type = wide;
    return true;
}

void ForgetRequest(WebHandleState* state, CURL* easy) {
    for (int32_t i = 0; i < state->mRequests.GetCount(); ++i) {
        if (state->mRequests[i] == easy) {
            state->mRequests.RemoveAt(i);
            return;
        }
    }
}

// The attached download's transfer has ended: follow a redirect or deliver the result.
// Returns true when the download is over.
bool FinishAttached(WebHandle* handle, WebHandleState* state) {
    WebDownload* request = state->mAttached;
    CURL* easy = EasyOf(handle);
    CURLcode result = AttemptResult(request, state->mAttachedResult);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    PublishSpeed(state, easy);
    if (status >= 301 && status <= 303 && FollowRedirect(request, easy, handle, false)) {
        PerformDownload(request);
        return false;
    }
    FinishAttempt(request, status, result);
    if (request->mProgress != _null) {
        bool complete = result == CURLE_OK && status >= 200 && status <= 299;
        request->mProgress->exchange(complete ? 1.0f : 0.0f);
    }
    state->mAttached = _null;
    delete request;
    return true;
}

} // namespace

void ProbeUrl(const WideChar* url, String& contentType, int32_t& contentLength) {
    WebHandle* handle = CreateWebHandle(false);
    if (handle == _null) return;
    CURL* easy = EasyOf(handle);
    curl_slist* headers = SetUpProbe(easy, handle, url, ProbeProgress, _null);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kProbeTimeLimitMs);
    const CURLcode result = curl_easy_perform(easy);

    // A probe cut off by the time limit may have a status line without the headers after it:
    // it counts as no answer, not as an answer without a length.
    if (result != CURLE_OPERATION_TIMEDOUT && IsSuccess(easy)) {
        int64_t length = -1;
        ReadProbeAnswer(easy, contentType, length);
        contentLength = int32_t(length);
    }
    DestroyWebHandle(handle);
    curl_slist_free_all(headers);
}

// A probe run on a worker: the owner and the worker share it, and the last to let go frees it.
class WebProbe {
public:
    std::atomic<int32_t> mReferences{2};
    String mUrl;
    // The owner's handle on the worker, and the worker as its task knows it.
    WorkerThread* mOwnerWorker = _null;
    WorkerThread* mTaskWorker = _null;
    std::chrono::steady_clock::time_point mStart;
    uint32_t mHeaderTimeoutMs = 0;
    // Set by the worker: once the answer's headers are all in, and once the probe has ended (the
    // result fields are written before it).
    std::atomic<bool> mHeadersIn{false};
    std::atomic<bool> mDone{false};
    bool mAnswered = false;
    bool mHasType = false;
    String mContentType;
    int64_t mContentLength = -1;
};

namespace {

void ReleaseProbe(WebProbe* probe) {
    if (probe->mReferences.fetch_sub(1, std::memory_order_acq_rel) == 1) delete probe;
}

// The blank line that ends a block of answer headers.
size_t NoteHeaderLine(char* line, size_t size, size_t count, void* userData) {
    const size_t bytes = size * count;
    if ((bytes == 2 && line[0] == '\r' && line[1] == '\n') || (bytes == 1 && line[0] == '\n')) {
        static_cast<WebProbe*>(userData)->mHeadersIn.store(true, std::memory_order_release);
    }
    return bytes;
}

// Ends the probe as soon as the answer's length is known, or when its owner stopped it.
int ProbeWorkerProgress(void* userData, curl_off_t downloadTotal, curl_off_t, curl_off_t, curl_off_t) {
    const WebProbe* probe = static_cast<const WebProbe*>(userData);
    if (IsStopRequested(probe->mTaskWorker)) return kAbortTransfer;
    return downloadTotal != 0 ? kAbortTransfer : 0;
}

uint8_t RunProbe(WorkerThread* worker, void* userData, int32_t) {
    WebProbe* probe = static_cast<WebProbe*>(userData);
    probe->mTaskWorker = worker;
    WebHandle* handle = CreateWebHandle(false);
    if (handle != _null) {
        CURL* easy = EasyOf(handle);
        curl_slist* headers = SetUpProbe(easy, handle, probe->mUrl.Data(), ProbeWorkerProgress, probe);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, NoteHeaderLine);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, probe);
        curl_easy_perform(easy);
        if (probe->mHeadersIn.load(std::memory_order_acquire) && IsSuccess(easy)) {
            probe->mAnswered = true;
            probe->mHasType = ReadProbeAnswer(easy, probe->mContentType, probe->mContentLength);
        }
        DestroyWebHandle(handle);
        curl_slist_free_all(headers);
    }
    probe->mDone.store(true, std::memory_order_release);
    ReleaseProbe(probe);
    return 0;
}

} // namespace

WebProbe* StartProbe(const WideChar* url, uint32_t headerTimeoutMs) {
    WebProbe* probe = new (std::nothrow) WebProbe();
    if (probe == _null) return _null;
    probe->mUrl = url != _null ? url : u"";
    probe->mHeaderTimeoutMs = headerTimeoutMs;
    probe->mStart = std::chrono::steady_clock::now();
    probe->mOwnerWorker = CreateWorker(RunProbe, probe);
    if (probe->mOwnerWorker == _null) {
        delete probe;
        return _null;
    }
    return probe;
}

WebProbeOutcome FinishProbe(WebProbe* probe, String& contentType, int64_t& contentLength) {
    if (probe == _null) return kProbeNoAnswer;
    if (probe->mDone.load(std::memory_order_acquire)) {
        const bool answered = probe->mAnswered;
        if (answered) {
            if (probe->mHasType) contentType = probe->mContentType;
            contentLength = probe->mContentLength;
        }
        StopProbe(probe);
        return answered ? kProbeAnswered : kProbeNoAnswer;
    }
    const auto waited = std::chrono::steady_clock::now() - probe->mStart;
    if (!probe->mHeadersIn.load(std::memory_order_acquire) &&
        waited > std::chrono::milliseconds(probe->mHeaderTimeoutMs)) {
        StopProbe(probe);
        return kProbeTimedOut;
    }
    return kProbeRunning;
}

void StopProbe(WebProbe* probe) {
    if (probe == _null) return;
    ReleaseWorker(probe->mOwnerWorker);
    ReleaseProbe(probe);
}

void SendWebRequest(const WideChar* url, WebHandle* handle) {
    WebHandleState* state = GetHandleState(handle);
    if (state == _null || state->mMulti == _null) return;
    CURL* easy = curl_easy_init();
    if (easy == _null) return;
    SetEasyUrl(easy, url);
    RestrictProtocols(easy);
    // The answer is of no interest; libcurl would otherwise print it on standard output.
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DropData);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (!state->mRequests.Append(easy) || curl_multi_add_handle(state->mMulti, easy) != CURLM_OK) {
        ForgetRequest(state, easy);
        curl_easy_cleanup(easy);
    }
}

bool PollWebHandle(WebHandle* handle) {
    WebHandleState* state = GetHandleState(handle);
    if (state == _null || state->mMulti == _null) return false;
    CURLM* multi = state->mMulti;

    // A look at the sockets without waiting: the caller polls again on its next update.
    int ready = 0;
    curl_multi_wait(multi, _null, 0, 0, &ready);
    int running = 0;
    curl_multi_perform(multi, &running);

    // The handle's own download and the requests report their end in one message queue.
    CURL* own = EasyOf(handle);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        curl_multi_remove_handle(multi, easy);
        if (easy == own) {
            state->mAttachedDone = true;
            state->mAttachedResult = message->data.result;
        } else {
            ForgetRequest(state, easy);
            curl_easy_cleanup(easy);
        }
    }
    if (state->mAttached == _null) return running == 0;
    if (!state->mAttachedDone) return false;
    return FinishAttached(handle, state) && running == 0;
}
