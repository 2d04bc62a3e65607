// Background downloads: attempts with resumption, received data, progress, redirects.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Source/Common/RetryWait.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/curl/WebInternal.h"

namespace {

// libcurl aborts a transfer whose progress callback returns non-zero.
constexpr int kAbortTransfer = 42;
// A transfer slower than this many bytes per second for this many seconds fails.
constexpr long kLowSpeedLimit = 1;
constexpr long kLowSpeedTime = 10;
// Received-data storage: the first chunk of an answer of unknown length, after which chunks
// double; and the most one chunk may reserve because the server announced a length.
constexpr uint64_t kFirstChunkBytes = 64 * 1024;
constexpr uint64_t kLargestChunkBytes = 512u * 1024 * 1024;
// A buffer's size is 32-bit: a download never keeps more than this.
constexpr uint64_t kLargestBody = 0xFFFFFFFFu;
// libcurl's receive buffer for a download: larger than its 16 KiB default, so a fast server's
// body arrives in a sixteenth of the reads, write calls and progress calls (the curl command
// uses 100 KiB for the same reason).
constexpr long kReceiveBufferBytes = 256 * 1024;
// The progress value stays below this until the body is complete.
constexpr float kProgressBeforeEnd = 0.9999f;

// The whole resource's length as the answer's Content-Range names it ("bytes 0-1131/1512563"),
// or -1 when the answer has none or names no total ("bytes 0-1131/*").
int64_t ResourceLengthOf(CURL* easy) {
    struct curl_header* header = _null;
    if (curl_easy_header(easy, "Content-Range", 0, CURLH_HEADER, -1, &header) != CURLHE_OK || header == _null)
        return -1;
    const char* slash = strchr(header->value, '/');
    if (slash == _null || slash[1] < '0' || slash[1] > '9')
        return -1;
    char* end = _null;
    const unsigned long long total = strtoull(slash + 1, &end, 10);
    while (*end == ' ' || *end == '\t')
        ++end;
    return *end == 0 && total <= uint64_t(INT64_MAX) ? int64_t(total) : -1;
}

bool IsErrorStatus(long status) { return status >= 400 && status <= 599; }
bool IsRedirectStatus(long status) { return status >= 301 && status <= 303; }

// Size for a new chunk that must take at least `pending` bytes now.
uint64_t NextChunkSize(const WebDownload* request, uint64_t stored, uint64_t pending) {
    uint64_t size = 0;
    curl_off_t length = -1;
    if (curl_easy_getinfo(request->mEasy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0 && uint64_t(length) > stored) {
        size = uint64_t(length) - stored;
    } else {
        int32_t count = request->mChunks.GetCount();
        size = count > 0 ? uint64_t(request->mChunks[count - 1]->mStorage.GetSize()) * 2 : kFirstChunkBytes;
        if (size < kFirstChunkBytes) size = kFirstChunkBytes;
    }
    if (size > kLargestChunkBytes) size = kLargestChunkBytes;
    uint64_t room = request->mAttemptLimit - stored;
    if (size > room) size = room;
    if (size < pending) size = pending;
    return size;
}

// Copies bytes into the attempt's chunks, reusing the storage of earlier attempts first.
bool StoreBytes(WebDownload* request, const char* data, uint64_t count) {
    uint64_t stored = request->mAttemptBytes;
    while (count > 0) {
        WebChunk* chunk = request->mChunkIndex < request->mChunks.GetCount()
                              ? request->mChunks[request->mChunkIndex]
                              : _null;
        if (chunk == _null) {
            chunk = new (std::nothrow) WebChunk();
            if (chunk == _null) return false;
            if (!chunk->mStorage.Allocate(uint32_t(NextChunkSize(request, stored, count))) ||
                !request->mChunks.Append(chunk)) {
                delete chunk;
                return false;
            }
        }
        uint64_t room = chunk->mStorage.GetSize() - chunk->mUsed;
        if (room == 0) {
            ++request->mChunkIndex;
            continue;
        }
        uint64_t piece = count < room ? count : room;
        memcpy(chunk->mStorage.GetData() + chunk->mUsed, data, size_t(piece));
        chunk->mUsed += uint32_t(piece);
        data += piece;
        count -= piece;
        stored += piece;
    }
    return true;
}

void ResetChunks(WebDownload* request) {
    for (WebChunk* chunk : request->mChunks) chunk->mUsed = 0;
    request->mChunkIndex = 0;
}

// libcurl write callback.
size_t ReceiveData(char* data, size_t size, size_t count, void* userData) {
    WebDownload* request = static_cast<WebDownload*>(userData);
    uint64_t bytes = uint64_t(size) * count;
    uint64_t room = request->mAttemptLimit - request->mAttemptBytes;
    uint64_t keep = bytes < room ? bytes : room;
    if (request->mTarget != _null && keep > 0 && !StoreBytes(request, data, keep)) {
        request->mOutOfMemory = true;
        return 0;
    }
    request->mAttemptBytes += keep;
    if (keep < bytes) {
        // More than the range can hold: the attempt ends here as if the answer had ended.
        request->mLimitReached = true;
        return size_t(keep);
    }
    return size_t(bytes);
}

// libcurl progress callback.
int ReportProgress(void* userData, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t,
                   curl_off_t) {
    WebDownload* request = static_cast<WebDownload*>(userData);
    const bool stopping = IsStopRequested(request->mWorker);
    if (!stopping) PublishSpeed(request->mState, request->mEasy);
    if (downloadTotal != 0 && request->mProgress != _null) {
        double before = double(request->mReceivedBefore);
        float fraction = float((before + double(downloadNow)) / (double(downloadTotal) + before));
        if (!(fraction < kProgressBeforeEnd)) fraction = kProgressBeforeEnd;
        request->mProgress->exchange(fraction);
    }
    if (stopping) {
        LogTrace(u"[WS] Web download aborted at thread 0x%p", GetWorkerThreadId(request->mWorker));
        return kAbortTransfer;
    }
    return 0;
}

// Says why an attempt failed and when the next one comes: the server's status, or libcurl's own
// words for a failure below HTTP (a refused port, an unknown host, a refused scheme, ...).
void ReportFailedAttempt(const String& url, long status, CURLcode result, const char* errorText, uint32_t waitMs) {
    WideChar reason[CURL_ERROR_SIZE + 32];
    if (result == CURLE_OK) {
        FormatInto(reason, CURL_ERROR_SIZE + 32, u"HTTP %d", int32_t(status));
    } else {
        Utf8ToUtf16(reason, CURL_ERROR_SIZE + 32, errorText[0] != 0 ? errorText : curl_easy_strerror(result));
    }
    LogTrace(u"[WS] Web download attempt failed: %ls (%ls), retry in %u ms", url.Data(), reason, waitMs);
}

// An answer that asking the same address again cannot change: the resource is not there or not
// for us, the address cannot be used at all, or nothing has ever listened there for this download
// (a dead mirror would otherwise cost every run the whole header time-out before the next address
// is asked). A server that already sent part of the resource is restarting: its port is waited for.
bool CannotSucceedHere(long status, CURLcode result, bool receivedBefore) {
    if (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_URL_MALFORMAT) return true;
    if (result == CURLE_COULDNT_CONNECT) return !receivedBefore;
    return result == CURLE_OK && (status == 401 || status == 403 || status == 404 || status == 410);
}

bool IsWebScheme(const char* url) {
    return strncasecmp(url, "http://", 7) == 0 || strncasecmp(url, "https://", 8) == 0;
}

// Empties what this download has put into its target.
void DiscardReceived(WebDownload* request) {
    ResetChunks(request);
    if (request->mTarget != _null) {
        request->mTarget->Clear();
    }
    request->mReceivedBefore = 0;
}

uint8_t RunDownload(WorkerThread* worker, void* userData, int32_t) {
    WebDownload* request = static_cast<WebDownload*>(userData);
    request->mWorker = worker;
    while (!IsStopRequested(worker)) {
        if (PerformDownload(request)) break;
        WorkerSleep(worker, request->mRetryWait);
    }
    delete request;
    return 0;
}

} // namespace

// A download's own body and progress, shared by the owner and the request that fills them; the
// last of the two to let go frees it.
class WebTransfer {
public:
    std::atomic<int32_t> mReferences{2};
    Buffer mBody;
    std::atomic<float> mProgress{0.0f};
    std::atomic<bool> mRefused{false};
    // Written before the progress reaches 1.0, read once it has.
    std::atomic<int64_t> mResourceLength{-1};
    std::atomic<int32_t> mFailedAttempts{0};
    WorkerThread* mWorker = _null;
};

namespace {

void ReleaseTransfer(WebTransfer* transfer) {
    if (transfer->mReferences.fetch_sub(1, std::memory_order_acq_rel) == 1) delete transfer;
}

// A request with the caller's settings; none when memory runs out.
WebDownload* NewRequest(std::atomic<float>* progress, const WideChar* url, Buffer* target,
                        uint64_t rangeStart, int64_t rangeEnd, WebHandle* handle, const WideChar* cookie) {
    WebDownload* request = new (std::nothrow) WebDownload();
    if (request == _null) return _null;
    request->mUrl = url != _null ? url : u"";
    request->mTarget = target;
    request->mCookie = cookie != _null ? cookie : u"";
    request->mProgress = progress;
    request->mRangeStart = rangeStart;
    request->mRangeEnd = rangeEnd < 0 ? -1 : rangeEnd;
    request->mHandle = handle;
    return request;
}

// Runs the request on a worker of its own, holding a reference on its handle meanwhile.
WorkerThread* RunOnWorker(WebDownload* request) {
    if (request->mHandle != _null) {
        HoldWebHandle(request->mHandle);
        request->mReleasesHandle = true;
    }
    WorkerThread* worker = CreateWorker(RunDownload, request);
    if (worker == _null) delete request;
    return worker;
}

} // namespace

WebDownload::~WebDownload() {
    for (WebChunk* chunk : mChunks) delete chunk;
    curl_slist_free_all(mAttemptHeaders);
    if (mReleasesHandle) DestroyWebHandle(mHandle);
    if (mTransfer != _null) ReleaseTransfer(mTransfer);
}

CURLcode AttemptResult(const WebDownload* request, CURLcode result) {
    if (result == CURLE_WRITE_ERROR && request->mLimitReached && !request->mOutOfMemory) return CURLE_OK;
    return result;
}

void FinishAttempt(WebDownload* request, long status, CURLcode result) {
    Buffer* target = request->mTarget;
    if (target != _null && !IsErrorStatus(status)) {
        uint64_t sum = 0;
        int32_t used = 0;
        for (WebChunk* chunk : request->mChunks) {
            sum += chunk->mUsed;
            if (chunk->mUsed > 0) ++used;
        }
        // Asked to resume the whole resource, the server ignored the resume: either it sent all
        // of it again (a 200 with a body), which replaces what the earlier attempts kept, or
        // libcurl refused its answer (a range error), and the next attempt starts from the
        // first byte. A 200 without a body whose length equals what is kept tells that the
        // document is complete: libcurl reports success and the bytes kept are the body.
        if (request->mRangeStart == 0 && request->mRangeEnd == -1 && request->mFrom > 0 &&
            ((status == 200 && sum > 0) || result == CURLE_RANGE_ERROR)) {
            target->Clear();
        }
        uint32_t size = target->GetSize();
        WebChunk* first = request->mChunks.GetCount() > 0 ? request->mChunks[0] : _null;
        if (size == 0 && used == 1 && first->mUsed > 0 && first->mUsed == first->mStorage.GetSize()) {
            // The whole answer sits in one exactly filled chunk: the target takes its storage.
            String name = target->GetName();
            target->Swap(first->mStorage);
            target->SetName(name);
            target->SetCursorOffset(target->GetSize());
            first->mStorage.Clear();
            first->mUsed = 0;
        } else if (sum > 0 && size + sum <= kLargestBody && target->Resize(uint32_t(size + sum))) {
            uint8_t* write = target->GetData() + size;
            for (WebChunk* chunk : request->mChunks) {
                if (chunk->mUsed == 0) continue;
                memcpy(write, chunk->mStorage.GetData(), chunk->mUsed);
                write += chunk->mUsed;
            }
            target->SetCursorOffset(target->GetSize());
        }
        request->mReceivedBefore = target->GetSize();
    }
    ResetChunks(request);
}

void NoteFailedAttempt(WebDownload* request, long status, CURLcode result) {
    // A range answer or any byte of the resource shows the server at work: the waits start
    // again from the shortest. An error page's bytes are no such sign.
    if (status == 206 || (request->mAttemptBytes > 0 && !IsErrorStatus(status))) request->mFailures = 0;
    request->mRetryWait = RandomRetryWaitMs(request->mFailures);
    if (request->mFailures < 0xFFFFFFFFu) ++request->mFailures;
    if (request->mTransfer != _null) {
        request->mTransfer->mRefused.store(CannotSucceedHere(status, result, request->mReceivedBefore > 0),
                                           std::memory_order_release);
        request->mTransfer->mFailedAttempts.fetch_add(1, std::memory_order_relaxed);
    }
}

bool FollowRedirect(WebDownload* request, CURL* easy, WebHandle* handle, bool handleMadeByAttempt) {
    char* location = _null;
    if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || location == _null ||
        location[0] == 0) {
        return false;
    }
    WebHandleState* state = GetHandleState(handle);
    if (state == _null) {
        state = new (std::nothrow) WebHandleState();
        if (state == _null) return false;
        curl_easy_setopt(EasyOf(handle), CURLOPT_PRIVATE, state);
    }
    static thread_local WideChar target[kWebUrlBytes];
    Utf8ToUtf16(target, kWebUrlBytes, location);
    if (!IsWebScheme(location)) {
        LogTrace(u"[WS] Web redirect refused : %ls -> %ls", request->mUrl.Data(), target);
        return false;
    }
    std::unique_lock<std::mutex> guard(state->mRedirectLock);
    RedirectEntry* entry = state->mRedirects.GetHead();
    while (entry != _null && entry->mSource != request->mUrl) entry = entry->mNext;
    if (entry != _null) {
        if (entry->mTargets.GetCount() >= kMaxRedirectTargets) {
            LogTrace(u"[WS] Web redirect refused : %ls -> %ls", request->mUrl.Data(), target);
            return false;
        }
        if (!entry->mTargets.Append(String(target))) return false;
    } else {
        entry = new (std::nothrow) RedirectEntry();
        if (entry == _null) return false;
        entry->mSource = request->mUrl;
        if (!entry->mTargets.Append(String(target))) {
            delete entry;
            return false;
        }
        state->mRedirects.Append(entry);
    }
    guard.unlock();
    DiscardReceived(request);
    request->mHandle = handle;
    if (handleMadeByAttempt) request->mReleasesHandle = true;
    return true;
}

bool PerformDownload(WebDownload* request) {
    WebHandle* handle = request->mHandle;
    bool created = false;
    if (handle == _null) {
        handle = CreateWebHandle(false);
        if (handle == _null) return false;
        created = true;
    }
    WebHandleState* state = GetHandleState(handle);
    const bool multi = HasMultiSet(state);
    // The handle's own easy handle, unless a stopped download is still transferring on it: this
    // attempt then runs on one of its own (a new connection, the same headers and redirects).
    CURL* easy = EasyOf(handle);
    CURL* own = _null;
    bool claimed = false;
    if (state != _null && !multi) {
        if (state->mEasyBusy.exchange(true, std::memory_order_acquire)) {
            own = curl_easy_init();
            if (own == _null) return false;
            ConfigureEasy(own);
            easy = own;
        } else {
            claimed = true;
        }
    }

    String url = request->mUrl;
    curl_slist_free_all(request->mAttemptHeaders);
    request->mAttemptHeaders = _null;
    if (state != _null) {
        request->mAttemptHeaders = CopyHeaders(state);
        FindRedirect(state, request->mUrl, url);
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request->mAttemptHeaders);
    SetEasyUrl(easy, url.Data());
    // Options of an earlier download on a reused handle must not leak into this one.
    if (!request->mCookie.IsEmpty()) {
        char text[kWebUrlBytes];
        Utf16ToUtf8(text, kWebUrlBytes, request->mCookie.Data());
        curl_easy_setopt(easy, CURLOPT_COOKIE, text);
    } else {
        curl_easy_setopt(easy, CURLOPT_COOKIE, static_cast<char*>(_null));
    }
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ReceiveData);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimit);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kLowSpeedTime);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (request->mProgress != _null || request->mWorker != _null) {
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, request);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, ReportProgress);
    } else {
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, static_cast<curl_xferinfo_callback>(_null));
    }

    // The range in 64 bits from the request to the text: a block past 2 GiB is asked for exactly.
    const uint64_t from = request->mRangeStart + request->mReceivedBefore;
    curl_easy_setopt(easy, CURLOPT_RANGE, static_cast<char*>(_null));
    curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(0));
    if (from != 0 && request->mRangeEnd == -1) {
        curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(from));
    } else if (request->mRangeEnd != -1 && uint64_t(request->mRangeEnd) > from) {
        char range[48];
        snprintf(range, sizeof(range), "%llu-%llu", static_cast<unsigned long long>(from),
                 static_cast<unsigned long long>(uint64_t(request->mRangeEnd) - 1));
        curl_easy_setopt(easy, CURLOPT_RANGE, range);
    }

    // What this attempt may keep: a ranged download holds at most the range's length plus one
    // byte (the one byte shows the caller that the server sent more than asked).
    request->mEasy = easy;
    request->mState = state;
    request->mFrom = from;
    request->mAttemptBytes = 0;
    request->mLimitReached = false;
    request->mOutOfMemory = false;
    ResetChunks(request);
    uint64_t keep = kLargestBody;
    if (request->mRangeEnd != -1) {
        const uint64_t end = uint64_t(request->mRangeEnd);
        keep = (end > request->mRangeStart ? end - request->mRangeStart : 0) + 1;
        if (keep > kLargestBody) keep = kLargestBody;
    }
    request->mAttemptLimit = keep > request->mReceivedBefore ? keep - request->mReceivedBefore : 0;
    // Said once per break: attempts that keep failing at the same point add no line.
    if (request->mReceivedBefore > 0 && from != request->mResumeReported) {
        request->mResumeReported = from;
        LogTrace(u"[WS] Web download resumed at %llu: %ls", static_cast<unsigned long long>(from), url.Data());
    }

    if (multi) {
        curl_multi_remove_handle(state->mMulti, easy);
        curl_multi_add_handle(state->mMulti, easy);
        state->mAttached = request;
        state->mAttachedDone = false;
        return true;
    }

    static thread_local char errorText[CURL_ERROR_SIZE];
    errorText[0] = 0;
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    CURLcode result = AttemptResult(request, curl_easy_perform(easy));
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, static_cast<char*>(_null));
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    const int64_t resourceLength = ResourceLengthOf(easy);
    if (!IsStopRequested(request->mWorker)) PublishSpeed(state, easy);

    const bool redirected = IsRedirectStatus(status) && FollowRedirect(request, easy, handle, created);
    request->mEasy = _null;
    if (own != _null) curl_easy_cleanup(own);
    if (claimed) state->mEasyBusy.store(false, std::memory_order_release);
    if (redirected) return PerformDownload(request);

    FinishAttempt(request, status, result);
    if (result == CURLE_OK && request->mTransfer != _null)
        request->mTransfer->mResourceLength.store(resourceLength, std::memory_order_relaxed);
    if (result == CURLE_OK && request->mProgress != _null) {
        request->mProgress->exchange(IsErrorStatus(status) ? 0.0f : 1.0f);
    }
    if (created) {
        String local = GetLocalEndpoint(handle);
        String peer = GetPeerEndpoint(handle);
        LogTrace(u"[WS] Web download finish : %ls <-> %ls (%d)", local.Data(), peer.Data(), int32_t(status));
        // A handle adopted by a redirect stays with the request; otherwise it goes now.
        if (request->mHandle != handle) DestroyWebHandle(handle);
    }
    const bool finished = result == CURLE_OK && !IsErrorStatus(status);
    if (!finished) NoteFailedAttempt(request, status, result);
    if (!finished && !IsStopRequested(request->mWorker))
        ReportFailedAttempt(url, status, result, errorText, request->mRetryWait);
    return finished;
}

WorkerThread* StartDownload(std::atomic<float>* progress, const WideChar* url, Buffer* target,
                            uint64_t rangeStart, int64_t rangeEnd, WebHandle* handle,
                            const WideChar* cookie) {
    if (progress != _null) progress->exchange(0.0f);
    WebDownload* request = NewRequest(progress, url, target, rangeStart, rangeEnd, handle, cookie);
    if (request == _null) return _null;
    // The body alone goes into the target: leftovers of an earlier use would corrupt it.
    if (target != _null) target->Clear();

    WebHandleState* state = GetHandleState(handle);
    if (HasMultiSet(state)) {
        if (state->mAttached != _null) {
            curl_multi_remove_handle(state->mMulti, EasyOf(handle));
            delete state->mAttached;
            state->mAttached = _null;
        }
        PerformDownload(request);
        return _null;
    }
    return RunOnWorker(request);
}

WebTransfer* StartTransfer(const WideChar* url, uint64_t rangeStart, int64_t rangeEnd, WebHandle* handle,
                           const WideChar* cookie) {
    WebTransfer* transfer = new (std::nothrow) WebTransfer();
    if (transfer == _null) return _null;
    WebDownload* request = NewRequest(&transfer->mProgress, url, &transfer->mBody, rangeStart, rangeEnd,
                                      HasMultiSet(GetHandleState(handle)) ? _null : handle,
                                      cookie);
    if (request == _null) {
        delete transfer;
        return _null;
    }
    request->mTransfer = transfer;
    transfer->mWorker = RunOnWorker(request);
    if (transfer->mWorker == _null) {
        // The request (deleted by RunOnWorker) has let go already.
        ReleaseTransfer(transfer);
        return _null;
    }
    return transfer;
}

bool IsTransferRefused(const WebTransfer* transfer) {
    return transfer != _null && transfer->mRefused.load(std::memory_order_acquire);
}

float GetTransferProgress(const WebTransfer* transfer) {
    return transfer != _null ? transfer->mProgress.load(std::memory_order_acquire) : 0.0f;
}

int32_t GetTransferFailures(const WebTransfer* transfer) {
    return transfer != _null ? transfer->mFailedAttempts.load(std::memory_order_relaxed) : 0;
}

bool TakeTransferBody(WebTransfer* transfer, Buffer& body, int64_t* resourceLength) {
    if (transfer == _null || transfer->mProgress.load(std::memory_order_acquire) != 1.0f) return false;
    if (resourceLength != _null) *resourceLength = transfer->mResourceLength.load(std::memory_order_relaxed);
    // The worker wrote its last byte before it published 1.0: the body is the owner's now.
    String name = body.GetName();
    body.Swap(transfer->mBody);
    body.SetName(name);
    body.SetCursorOffset(body.GetSize());
    StopTransfer(transfer);
    return true;
}

void StopTransfer(WebTransfer* transfer) {
    if (transfer == _null) return;
    ReleaseWorker(transfer->mWorker);
    ReleaseTransfer(transfer);
}

void FreeEndedTransfers() { FreeEndedWorkers(); }

void WaitForStoppedTransfers() { WaitForReleasedWorkers(); }
