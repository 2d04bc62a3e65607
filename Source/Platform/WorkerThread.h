// Worker threads: a background thread that runs queued tasks in passes until it is stopped.
#pragma once

#include "Common/Types.h"

// Opaque; made by CreateWorker, freed by DestroyWorker.
class WorkerThread;

// A task body. Receives the worker running it, the task's user data and its integer argument
// (always 0 for tasks posted through this interface). Returns non-zero to be run again on a
// later pass, 0 when it is done. Runs on the worker's thread, outside the worker's lock.
typedef uint8_t (*WorkerFunction)(WorkerThread* worker, void* userData, int32_t argument);

// One queued task.
struct WorkerTask {
    WorkerFunction mFunction;
    void* mUserData;
    int32_t mArgument;
};

// Pass interval of a new worker, in milliseconds. An idle worker (empty queue) sleeps ten times
// as long between passes.
constexpr int32_t kWorkerInterval = 100;

// Starts a worker thread whose queue holds the task {function, userData, 0}. Returns the worker,
// or none when the thread cannot be started (nothing is left behind). The caller owns the worker
// and must end it with DestroyWorker. Call from any thread.
WorkerThread* CreateWorker(WorkerFunction function, void* userData);

// Appends the task {function, userData, 0} to the worker's queue; it runs on a later pass.
// Ignored when the worker is none or a stop has been requested. Call from any thread.
void PostTask(WorkerThread* worker, WorkerFunction function, void* userData);

// Requests the stop, waits without limit until the thread has ended, drops the tasks still
// queued (without running them; their user data is the poster's to free) and frees the worker.
// A task running at that moment finishes first: long tasks poll IsStopRequested or sleep with
// WorkerSleep so that this returns promptly. None is ignored. Must not be called from the
// worker's own thread.
void DestroyWorker(WorkerThread* worker);

// Requests the stop and returns at once: the task running at that moment finishes on the
// worker's thread (long tasks poll IsStopRequested), queued tasks are dropped, and the worker is
// freed once its thread has ended, by a later ReleaseWorker or by WaitForReleasedWorkers. The
// worker must not be used afterwards. None is ignored. Call from any thread but the worker's.
void ReleaseWorker(WorkerThread* worker);

// Frees the released workers whose threads have already ended, without waiting for the others.
// Until then an ended worker still holds its thread's handle and its locks' system objects.
void FreeEndedWorkers();

// Waits until the thread of every released worker has ended and frees them. Call before the code
// those threads run goes away (the library's unload); any thread but a worker's own.
void WaitForReleasedWorkers();

// True once DestroyWorker or ReleaseWorker has asked the worker to stop. Lock-free; any thread.
bool IsStopRequested(const WorkerThread* worker);

// Sleeps on the worker's thread for up to the given milliseconds; a stop request wakes it at
// once. Returns false when it returned because of a stop request, true after the full time.
// Call only from a task running on that worker.
bool WorkerSleep(WorkerThread* worker, uint32_t milliseconds);

// True when the worker's last pass found its queue empty. Lock-free; any thread.
bool IsWorkerIdle(const WorkerThread* worker);

// The operating-system id of the worker's thread (the kernel thread id here), as a pointer-sized
// value for log lines ("0x%p"); none until the thread has begun. Any thread.
void* GetWorkerThreadId(const WorkerThread* worker);
