// The web download service: background downloads with resumption, size probes, fire-and-forget
// requests and the download speed, over libcurl. Only this service's own sources include curl.
#pragma once

#include <atomic>
#include "Common/Types.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/String.h"
#include "Source/Platform/WorkerThread.h"

// A reusable transfer handle (opaque). It remembers the redirects it has followed (at most 8
// targets per source URL, for the handle's whole life), carries a list of extra request headers
// (initially "Accept: */*" and "Connection: Keep-Alive") and optionally a multi set that runs
// fire-and-forget requests. Not locked: one transfer at a time per handle (see StartDownload).
struct WebHandle;

// Every handle of this service speaks only these protocols, for transfers and for redirects.
constexpr const char* kWebProtocols = "http,https";

// Creates a handle: connection time-out 5 s, user agent "libcurl-agent/1.0", the two default
// headers, and a multi set when withMultiSet is true. Returns none when libcurl cannot make one.
// The caller owns the handle and frees it with DestroyWebHandle. Any thread.
WebHandle* CreateWebHandle(bool withMultiSet);

// Gives up the caller's use of the handle. It is freed with its header list, its redirect memory
// and its multi set (with every request still running in it, and a download attached to it) at
// once, or, while a stopped download (StopTransfer) still runs on it, by that download's worker
// when it lets go. A download started with StartDownload is ended first (DestroyWorker). None
// is ignored.
void DestroyWebHandle(WebHandle* handle);

// Adds one request header line ("Name: value", converted to UTF-8, at most 1024 bytes) to the
// handle; it is sent with every later transfer on the handle. Ignored when the header is empty
// or none or the handle is none. Safe while a download runs on the handle: the header then
// applies from that download's next attempt on.
void AddWebHeader(WebHandle* handle, const WideChar* header);

// Starts a background download of url (http or https) into target on a worker thread of its
// own, and returns that worker, or none when no worker can be started.
//  - progress (optional): set to 0.0 at once; the worker stores fractions below 1.0 while data
//    arrives (atomic exchange), exactly 1.0 when the body is complete in target, and 0.0 after
//    an attempt the server answered with a 4xx/5xx status (the download then retries).
//  - target (optional; without one the body is discarded): emptied at once, then receives the
//    body (the cursor ends after it). Only the worker touches it until progress reads exactly
//    1.0 or the worker has been destroyed.
//  - rangeStart / rangeEnd: bytes rangeStart up to rangeEnd - 1 are wanted (rangeEnd -1: to the
//    end of the resource), sent as "Range: bytes=<rangeStart>-<rangeEnd - 1>" (on a resumed
//    attempt the start moves past the bytes kept); 64-bit, so ranges past 2 GiB stay exact. A ranged download keeps at most rangeEnd - rangeStart + 1 bytes, so
//    an answer longer than the range shows as one byte too many rather than filling memory.
//  - handle (optional): the handle to use, which must stay alive and unused by other downloads
//    until the worker is destroyed; without one each attempt makes a handle of its own. A handle
//    with a multi set is not run on a worker: the download is attached to its multi set and
//    driven by PollWebHandle on the caller's thread, and the result is none.
//  - cookie (optional): sent as the request's cookie when not empty.
// The download retries (resuming after the bytes already kept) until it succeeds or its worker is
// destroyed, after a wait of 1 s doubling up to a minute (less a random part of up to a quarter);
// an attempt that got a range answer or any byte of the resource sets the wait back to 1 s. The caller ends it, finished or not, with DestroyWorker, which
// returns once the transfer has noticed the stop. url, target and progress must stay valid until
// then. Call from the host's thread.
WorkerThread* StartDownload(std::atomic<float>* progress, const WideChar* url, Buffer* target,
                            uint64_t rangeStart, int64_t rangeEnd, WebHandle* handle,
                            const WideChar* cookie);

// A background download that owns its body and its progress, for a caller whose thread must
// never wait for a transfer to let go (the loader, on the host's thread). Opaque.
//
// Contract:
//  - Threads: StartTransfer, GetTransferProgress, TakeTransferBody and StopTransfer are called
//    from the owner's thread only (one owner per transfer); the transfer runs on a worker thread
//    of its own.
//  - Ownership: the transfer writes only into a body and a progress value of its own; nothing
//    the caller holds is touched from another thread. The body is handed over once, by
//    TakeTransferBody, when the progress reads exactly 1.0.
//  - Ending: every transfer ends with TakeTransferBody (success) or StopTransfer (any time).
//    Neither waits: a stopped transfer notices the stop at libcurl's next progress callback
//    (within about a second), then frees its body, its request and its reference on the handle
//    on its own thread; its worker is freed at a later stop, by FreeEndedTransfers once it has
//    ended, or by WaitForStoppedTransfers. The pointer is gone once either call returned.
//  - Handle: the same handle may carry the next transfer at once and may be given up
//    (DestroyWebHandle) at once. A stopped transfer keeps it alive until it lets go; an attempt
//    that finds its easy handle still in use transfers on an easy handle of its own, with the
//    handle's headers and redirect memory.
//  - Unload: WaitForStoppedTransfers before the code of this service goes away.
class WebTransfer;

// Starts a download of url (http or https) as StartDownload does (the same ranges, handle,
// cookie, retries and resumption), into the transfer's own body. Returns none when no worker
// can be started.
WebTransfer* StartTransfer(const WideChar* url, uint64_t rangeStart, int64_t rangeEnd, WebHandle* handle,
                           const WideChar* cookie);
// Whether the transfer's last failed attempt was answered in a way that asking the same address
// again cannot change: HTTP 401, 403, 404 or 410, a scheme other than http and https, a malformed
// address. The transfer goes on retrying with its waits; the owner may leave the address.
bool IsTransferRefused(const WebTransfer* transfer);
// The transfer's progress: the values StartDownload writes (0.0 at first, fractions below 1.0,
// exactly 1.0 once the body is complete, 0.0 after a 4xx/5xx answer); 0.0 for none.
float GetTransferProgress(const WebTransfer* transfer);
// How many attempts of the transfer have failed so far (an error answer, a refused or broken
// connection, a stall past the low-speed limit); each is retried a second later. 0 for none.
// For a caller that would rather do without the resource than wait for it.
int32_t GetTransferFailures(const WebTransfer* transfer);
// When the progress reads exactly 1.0: body receives the transfer's body (its old contents are
// freed with the transfer; its name is kept; the cursor ends after the bytes), resourceLength
// (optional) the whole resource's length as the last answer's Content-Range named it (-1 when
// it named none: no range answer, or a total of "*"), the transfer ends, and the result is true.
// Otherwise false, and nothing changes.
bool TakeTransferBody(WebTransfer* transfer, Buffer& body, int64_t* resourceLength = _null);
// Ends the transfer without waiting for it (see the contract). None is ignored.
void StopTransfer(WebTransfer* transfer);
// Frees the workers of stopped transfers and probes that have ended; waits for none.
void FreeEndedTransfers();
// Waits until every stopped transfer and probe has let go and its worker has ended. Blocks for
// up to a second per transfer still inside libcurl. Not from a worker's thread.
void WaitForStoppedTransfers();

// Asks url for its content type and length without downloading the body (synchronous, on a
// handle of its own; the transfer ends as soon as the length is known, and fails after 10 s
// below 1 byte per second, or after 2 s in all, connection included). Only on a 2xx answer: the
// content type (when the server sent one) goes into contentType and the length into
// contentLength (-1 when the server gave none). Other answers, failures and probes cut off by
// the time limit leave both outputs untouched.
void ProbeUrl(const WideChar* url, String& contentType, int32_t& contentLength);

// A size probe that runs beside the owner's thread (the loader's package size check). Opaque.
//
// Contract:
//  - Threads: StartProbe, FinishProbe and StopProbe are called from the owner's thread only; the
//    probe runs on a worker thread of its own, on a handle of its own (no header of any other
//    handle is sent).
//  - Time: the answer's status line and headers must all arrive within headerTimeoutMs of
//    StartProbe, counted on the owner's side; past that the probe counts as timed out. Once
//    they have arrived there is no limit but the low-speed rule (1 byte per second for 10 s):
//    an answer without a length is received to its end, as ProbeUrl does.
//  - Ending: the probe ends when FinishProbe returns anything but kProbeRunning, or with
//    StopProbe. Neither waits for the transfer; a stopped probe frees itself on its worker, like
//    a stopped transfer (WaitForStoppedTransfers covers both). The pointer is gone afterwards.
class WebProbe;

enum WebProbeOutcome {
    kProbeRunning,  // no outcome yet: ask again later
    kProbeAnswered, // a 2xx answer: the outputs are filled as ProbeUrl fills them
    kProbeNoAnswer, // any other status, or the transfer failed: the outputs are untouched
    kProbeTimedOut, // the answer headers did not arrive in time: the outputs are untouched
};

// Starts asking url for its content type and length. None when no worker can be started.
WebProbe* StartProbe(const WideChar* url, uint32_t headerTimeoutMs);
// The probe's outcome so far (see the enumeration). contentLength is 64-bit: -1 when a 2xx
// answer gave no length.
WebProbeOutcome FinishProbe(WebProbe* probe, String& contentType, int64_t& contentLength);
// Ends the probe without waiting for it. None is ignored.
void StopProbe(WebProbe* probe);

// Queues a bare GET of url (no user agent, no extra headers, no time-outs; answer ignored) on the
// handle's multi set. Does nothing when the handle is none or has no multi set. Call from the
// thread that polls the handle.
void SendWebRequest(const WideChar* url, WebHandle* handle);

// Drives the handle's multi set one step without blocking (a 1 microsecond wait): frees the
// finished requests and finishes an attached download. Returns true when nothing is left
// running; false while requests run, or when the handle is none or has no multi set.
bool PollWebHandle(WebHandle* handle);

// Download speed of the handle's current or last transfer in kilobytes (1000 bytes) per second;
// 0 when the handle is none or has not transferred yet. Lock-free; safe from the host's thread
// while a worker transfers on the handle.
double GetDownloadSpeed(WebHandle* handle);

// "address:port" of the local, respectively the peer, end of the handle's last connection, or
// "NA" when the handle is none or the address is not known. Call only while no transfer runs
// on the handle.
String GetLocalEndpoint(WebHandle* handle);
String GetPeerEndpoint(WebHandle* handle);
