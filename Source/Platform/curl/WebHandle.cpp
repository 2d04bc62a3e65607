// Web handles: creation with their defaults, extra headers, redirect memory, speed and endpoints.
#include <new>

#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/curl/WebInternal.h"

namespace {

const char* const kUserAgent = "libcurl-agent/1.0";
// Milliseconds to wait for a connection before an attempt fails.
constexpr long kConnectTimeoutMs = 5000;

// libcurl's global set-up is not thread-safe; it runs once, before the first handle.
void InitialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

void FreeRedirects(WebHandleState* state) {
    RedirectEntry* entry = state->mRedirects.GetHead();
    while (entry != _null) {
        RedirectEntry* next = entry->mNext;
        delete entry;
        entry = next;
    }
    state->mRedirects.Reset();
}

String EndpointText(CURL* easy, CURLINFO addressInfo, CURLINFO portInfo) {
    char* address = _null;
    long port = 0;
    if (curl_easy_getinfo(easy, addressInfo, &address) != CURLE_OK || address == _null ||
        address[0] == 0 || curl_easy_getinfo(easy, portInfo, &port) != CURLE_OK) {
        return String(u"NA");
    }
    WideChar wide[64];
    Utf8ToUtf16(wide, 64, address);
    return Format(u"%ls:%d", wide, int32_t(port));
}

} // namespace

WebHandleState* GetHandleState(WebHandle* handle) {
    if (handle == _null) return _null;
    char* pointer = _null;
    if (curl_easy_getinfo(EasyOf(handle), CURLINFO_PRIVATE, &pointer) != CURLE_OK) return _null;
    return reinterpret_cast<WebHandleState*>(pointer);
}

void SetEasyUrl(CURL* easy, const WideChar* url) {
    char text[kWebUrlBytes];
    Utf16ToUtf8(text, kWebUrlBytes, url != _null ? url : u"");
    curl_easy_setopt(easy, CURLOPT_URL, text);
}

void RestrictProtocols(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kWebProtocols);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kWebProtocols);
    // Certificates are checked against the system's own store where the TLS library can read one
    // (OpenSSL on Windows); elsewhere libcurl ignores the flag and uses its default CA files.
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_NATIVE_CA));
}

void ConfigureEasy(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    RestrictProtocols(easy);
}

curl_slist* CopyHeaders(WebHandleState* state) {
    std::lock_guard<std::mutex> guard(state->mHeaderLock);
    if (state->mPendingHeaders != _null) {
        if (state->mHeaders == _null) {
            state->mHeaders = state->mPendingHeaders;
        } else {
            curl_slist* tail = state->mHeaders;
            while (tail->next != _null) tail = tail->next;
            tail->next = state->mPendingHeaders;
        }
        state->mPendingHeaders = _null;
    }
    curl_slist* copy = _null;
    for (curl_slist* line = state->mHeaders; line != _null; line = line->next) {
        curl_slist* longer = curl_slist_append(copy, line->data);
        if (longer == _null) break;
        copy = longer;
    }
    return copy;
}

bool FindRedirect(WebHandleState* state, const String& url, String& target) {
    std::lock_guard<std::mutex> guard(state->mRedirectLock);
    for (RedirectEntry* entry = state->mRedirects.GetHead(); entry != _null; entry = entry->mNext) {
        if (entry->mSource == url) {
            int32_t count = entry->mTargets.GetCount();
            if (count == 0) return false;
            target = entry->mTargets[count - 1];
            return true;
        }
    }
    return false;
}

void HoldWebHandle(WebHandle* handle) {
    WebHandleState* state = GetHandleState(handle);
    if (state != _null) state->mReferences.fetch_add(1, std::memory_order_relaxed);
}

void PublishSpeed(WebHandleState* state, CURL* easy) {
    if (state == _null) return;
    curl_off_t speed = 0;
    if (curl_easy_getinfo(easy, CURLINFO_SPEED_DOWNLOAD_T, &speed) == CURLE_OK) {
        state->mSpeed.store(double(speed));
    }
}

WebHandle* CreateWebHandle(bool withMultiSet) {
    InitialiseCurl();
    CURL* easy = curl_easy_init();
    if (easy == _null) return _null;
    WebHandleState* state = new (std::nothrow) WebHandleState();
    if (state == _null) {
        curl_easy_cleanup(easy);
        return _null;
    }
    ConfigureEasy(easy);
    state->mHeaders = curl_slist_append(_null, "Accept: */*");
    if (state->mHeaders != _null) {
        curl_slist* list = curl_slist_append(state->mHeaders, "Connection: Keep-Alive");
        if (list != _null) state->mHeaders = list;
    }
    curl_easy_setopt(easy, CURLOPT_PRIVATE, state);
    if (withMultiSet) {
        state->mMulti = curl_multi_init();
        if (state->mMulti == _null) {
            DestroyWebHandle(HandleOf(easy));
            return _null;
        }
    }
    return HandleOf(easy);
}

void DestroyWebHandle(WebHandle* handle) {
    if (handle == _null) return;
    CURL* easy = EasyOf(handle);
    WebHandleState* state = GetHandleState(handle);
    // A download stopped without waiting may still run on the handle: the last one frees it.
    if (state != _null && state->mReferences.fetch_sub(1, std::memory_order_acq_rel) > 1) return;
    if (state != _null) {
        if (state->mMulti != _null) {
            curl_multi_remove_handle(state->mMulti, easy);
            for (CURL* request : state->mRequests) {
                curl_multi_remove_handle(state->mMulti, request);
                curl_easy_cleanup(request);
            }
            state->mRequests.Clear();
            curl_multi_cleanup(state->mMulti);
        }
        delete state->mAttached;
        curl_slist_free_all(state->mHeaders);
        curl_slist_free_all(state->mPendingHeaders);
        FreeRedirects(state);
        delete state;
    }
    curl_easy_cleanup(easy);
}

void AddWebHeader(WebHandle* handle, const WideChar* header) {
    if (handle == _null || header == _null || header[0] == 0) return;
    WebHandleState* state = GetHandleState(handle);
    if (state == _null) return;
    char line[kWebHeaderBytes];
    Utf16ToUtf8(line, kWebHeaderBytes, header);
    std::lock_guard<std::mutex> guard(state->mHeaderLock);
    curl_slist* list = curl_slist_append(state->mPendingHeaders, line);
    if (list != _null) state->mPendingHeaders = list;
}

double GetDownloadSpeed(WebHandle* handle) {
    WebHandleState* state = GetHandleState(handle);
    if (state == _null) return 0.0;
    return state->mSpeed.load() * 0.001;
}

String GetLocalEndpoint(WebHandle* handle) {
    if (handle == _null) return String(u"NA");
    return EndpointText(EasyOf(handle), CURLINFO_LOCAL_IP, CURLINFO_LOCAL_PORT);
}

String GetPeerEndpoint(WebHandle* handle) {
    if (handle == _null) return String(u"NA");
    return EndpointText(EasyOf(handle), CURLINFO_PRIMARY_IP, CURLINFO_PRIMARY_PORT);
}
