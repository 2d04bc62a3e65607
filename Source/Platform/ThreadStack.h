// The calling thread's stack: how deep recursive work may go before the stack is at risk.
#pragma once

#include "Common/Types.h"

// The lowest address that recursive work on the calling thread may reach with its frames: the
// end of the stack (stacks grow down) plus a reserve kept for what still runs below the deepest
// frame (the script engine, logging, error handling), a quarter of the stack and at most
// 256 KiB. Null when the system does not tell the stack's bounds. Any thread; computed once per
// thread.
const char* StackFloor();

// The calling thread's stack as the system tells it: its lowest address and its size. False when
// the system does not tell.
bool ThreadStackBounds(const char** low, size_t* size);

// True while the caller's frame lies above the floor (or the floor is unknown).
inline bool StackHasRoom(const char* floor) {
    return floor == _null || static_cast<const char*>(__builtin_frame_address(0)) > floor;
}
