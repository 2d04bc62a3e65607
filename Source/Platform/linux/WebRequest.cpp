// Size probes, fire-and-forget requests and the multi set that runs them.
#include <sys/select.h>

#include "Source/Common/StringEncoding.h"
#include "Source/Platform/linux/WebInternal.h"

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
    if (status >= 301 && status <= 303 && FollowRedirect(request, handle, false)) {
        PerformDownload(request);
        return false;
    }
    FinishAttempt(request, status);
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
    WebHandleState* state = GetHandleState(handle);
    if (state != _null) ApplyHeaders(state, easy);
    static thread_local char text[kWebUrlBytes];
    Utf16ToUtf8(text, kWebUrlBytes, url != _null ? url : u"");
    curl_easy_setopt(easy, CURLOPT_URL, text);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(_null));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DropData);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, ProbeProgress);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimit);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kLowSpeedTime);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kProbeTimeLimitMs);
    const CURLcode result = curl_easy_perform(easy);

    // A probe cut off by the time limit may have a status line without the headers after it:
    // it counts as no answer, not as an answer without a length.
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OPERATION_TIMEDOUT && status >= 200 && status <= 299) {
        char* type = _null;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != _null) {
            WideChar wide[kContentTypeUnits];
            Utf8ToUtf16(wide, kContentTypeUnits, type);
            contentType = wide;
        }
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        contentLength = int32_t(int64_t(length));
    }
    DestroyWebHandle(handle);
}

void SendWebRequest(const WideChar* url, WebHandle* handle) {
    WebHandleState* state = GetHandleState(handle);
    if (state == _null || state->mMulti == _null) return;
    CURL* easy = curl_easy_init();
    if (easy == _null) return;
    static thread_local char text[kWebUrlBytes];
    Utf16ToUtf8(text, kWebUrlBytes, url != _null ? url : u"");
    curl_easy_setopt(easy, CURLOPT_URL, text);
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

    long timeout = 0;
    curl_multi_timeout(multi, &timeout);
    fd_set readSet, writeSet, errorSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&errorSet);
    int highest = -1;
    curl_multi_fdset(multi, &readSet, &writeSet, &errorSet, &highest);
    if (highest >= 0) {
        timeval wait{0, 1};
        select(highest + 1, &readSet, &writeSet, &errorSet, &wait);
    }
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
