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

// Frees the handle, its header list, its redirect memory and its multi set (with every request
// still running in it, and a download attached to it). The caller first ends every download
// running on the handle (DestroyWorker). None is ignored.
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
//    end of the resource). A ranged download keeps at most rangeEnd - rangeStart + 1 bytes, so
//    an answer longer than the range shows as one byte too many rather than filling memory.
//  - handle (optional): the handle to use, which must stay alive and unused by other downloads
//    until the worker is destroyed; without one each attempt makes a handle of its own. A handle
//    with a multi set is not run on a worker: the download is attached to its multi set and
//    driven by PollWebHandle on the caller's thread, and the result is none.
//  - cookie (optional): sent as the request's cookie when not empty.
// The download retries (resuming after the bytes already kept) once a second until it succeeds
// or its worker is destroyed. The caller ends it, finished or not, with DestroyWorker, which
// returns once the transfer has noticed the stop. url, target and progress must stay valid until
// then. Call from the host's thread.
WorkerThread* StartDownload(std::atomic<float>* progress, const WideChar* url, Buffer* target,
                            uint32_t rangeStart, int32_t rangeEnd, WebHandle* handle,
                            const WideChar* cookie);

// Asks url for its content type and length without downloading the body (synchronous, on a
// handle of its own; the transfer ends as soon as the length is known, and fails after 10 s
// below 1 byte per second, or after 2 s in all, connection included). Only on a 2xx answer: the
// content type (when the server sent one) goes into contentType and the length into
// contentLength (-1 when the server gave none). Other answers, failures and probes cut off by
// the time limit leave both outputs untouched.
void ProbeUrl(const WideChar* url, String& contentType, int32_t& contentLength);

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
