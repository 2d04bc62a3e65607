// A lock for state that lives as long as the library: the log channels, the list of workers
// waiting to be joined.
//
// Such a lock outlives every run, so it must hold nothing of the system's while it is free. The
// toolchain's standard mutex on Windows makes a kernel event the first time two threads meet at
// it and keeps it until the mutex goes, which for a lock in static storage is when the library
// goes: a host that keeps the library and starts game after game saw one handle more appear at
// some run, whenever a worker happened to log while the host's thread did.
//
// Zero bytes are the unlocked state on every platform, so a lock in static storage is ready
// before any constructor runs. It meets the standard's BasicLockable: std::lock_guard takes it.
#pragma once

#include "Common/Types.h"

class ProcessLock {
public:
    constexpr ProcessLock() = default;
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

    void lock();
    void unlock();

private:
    // Large enough for the system's lock object of every platform (checked where it is used).
    alignas(8) unsigned char mState[40] = {};
};
