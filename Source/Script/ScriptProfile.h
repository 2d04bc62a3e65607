// Records of the call-cost profiler and the allocation tracker kept by the script manager.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

struct lua_State;

namespace Vexal {

// One per measured function, keyed by its identity: a native function's target, or a script
// function object for as long as it lives (a number of its own, never an address that a later
// function may get).
struct ScriptProfileRecord {
    String mName;     // empty when the debug information gives none
    const void* mKey; // identity: the native target, or the script function's address
    uint64_t mSerial; // script functions: the record's number, unique in the process
    uint8_t mGone;    // script functions: collected; the record goes after its last dump
    uint8_t mCFunc;   // 1 for a bound native function, 0 for a script function
    String mSource;   // chunk name as the debug information reports it; empty for natives
    int32_t mLine;    // line where a script function is defined; -1 for natives
    uint32_t mCalls;  // completed calls since the last dump
    int64_t mStart;   // performance counter at the last entry
    int64_t mTotal;   // accumulated performance-counter ticks since the last dump
};

// One open call on the profile stack. A null record marks the start of a protected call.
// Each open call keeps its own start, so a recursive function is timed per call.
struct ScriptProfileCall {
    ScriptProfileRecord* mRecord;
    int64_t mStart;
    lua_State* mThread; // script calls: the Lua thread and the frame slot it runs in
    int32_t mFrame;     // -1 for native calls
};

// Allocation totals of one script location ("%ls:%d:%ls": chunk, line, function).
struct ScriptAllocRecord {
    int32_t mTotal;  // sum of size changes in bytes
    uint32_t mCount; // number of allocation events
    String mLocation;
};

// The profiler's time source: a monotonic tick count and its ticks per second. The default is
// the platform's high-resolution counter; tests give a clock they drive themselves.
typedef uint64_t (*ScriptProfileClock)();

} // namespace Vexal
