// One line of a web server access log read as a loader tick: the request time and the query
// items the loader sends (run id, state, progress, final mark, app version).
#pragma once

#include <cstdint>
#include <string_view>

enum class LineKind {
    Tick,      // a well-formed line whose request carries a run id and a state
    NotTick,   // a well-formed line of another request (pages, packages, reports)
    Malformed, // neither: damaged, truncated, or a tick with values out of range
};

struct TickLine {
    LineKind mKind = LineKind::Malformed;
    int64_t mTimeMs = 0;          // request time, milliseconds since 1970 (UTC)
    std::string_view mRunId;      // item s, raw as logged; points into the line
    std::string_view mAppVersion; // item av, raw as logged (may be percent-encoded); empty when absent
    int mState = -1;              // item sg, 0 to 6
    float mProgress = -1.0f;      // item pg, 0 to 1; -1 when absent
    bool mFinal = false;          // item f=1
};

// Reads one line (without its line break). Three shapes are understood:
//  - the common and combined formats of nginx and Apache:
//      host ident user [07/Dec/2026:12:25:43 +0000] "GET /tick?s=...&sg=3 HTTP/1.1" 204 0 ...
//    (second resolution);
//  - a line that begins with nginx's $msec (seconds with milliseconds) followed by either the
//    request's $args or a field holding its address ($request_uri, or a quoted $request).
// Never reads outside line; the views in the result point into it.
TickLine ReadTickLine(std::string_view line);

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
