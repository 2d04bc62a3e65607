// Worker threads: a task queue run in passes, a stop request that wakes sleeps. The threads
// themselves come from the platform (NativeThread.h).
#include "Source/Platform/WorkerThread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>

#include "Common/Queue.h"
#include "Source/Platform/NativeThread.h"
#include "Source/Platform/ProcessLock.h"

#include <vector>

class WorkerThread;

namespace {

constexpr int32_t kStopRequest = -1;

// The released workers whose threads have not been joined yet. Made once in static storage and
// never destroyed, so a worker ending during the process's exit still finds it; an object of its
// own joins what is left when the program (or this library) goes away. Kept out of the heap so
// that a library unloaded by its host leaves nothing behind.
struct ReleasedWorkers {
    ProcessLock mLock;
    std::vector<WorkerThread*> mWorkers;
};

ReleasedWorkers& Released() {
    alignas(ReleasedWorkers) static unsigned char storage[sizeof(ReleasedWorkers)];
    static ReleasedWorkers* released = new (storage) ReleasedWorkers();
    return *released;
}

struct JoinReleasedAtExit {
    ~JoinReleasedAtExit() { WaitForReleasedWorkers(); }
};

} // namespace

class WorkerThread {
public:
    NativeThread* mThread = _null;
    std::atomic<void*> mThreadId{_null};
    // Milliseconds between passes; kStopRequest asks the thread to end.
    std::atomic<int32_t> mInterval{kWorkerInterval};
    std::atomic<uint32_t> mIdle{0};

    // Guards the queue. The flag is always on; it stays for callers that inspect it.
    std::mutex mLock;
    bool mUseLock = true;
    Queue<WorkerTask> mQueue;

    // The started (auto-reset) and stopped (manual-reset) events, and the wake-up of sleeps.
    std::mutex mEventLock;
    std::condition_variable mEventSignal;
    bool mStarted = false;
    bool mStopped = false;

    void SignalStarted() {
        std::lock_guard<std::mutex> guard(mEventLock);
        mStarted = true;
        mEventSignal.notify_all();
    }
    void SignalStopped() {
        std::lock_guard<std::mutex> guard(mEventLock);
        mStopped = true;
        mEventSignal.notify_all();
    }
    bool StopRequested() const { return mInterval.load() == kStopRequest; }

    // Waits up to the given time; returns false when a stop request cut the wait short.
    bool Sleep(uint32_t milliseconds) {
        std::unique_lock<std::mutex> guard(mEventLock);
        return !mEventSignal.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                      [this] { return StopRequested(); });
    }

    void Run();
};

void WorkerThread::Run() {
    mThreadId.store(CurrentNativeThreadId());
    SignalStarted();
    for (;;) {
        int32_t count;
        {
            std::lock_guard<std::mutex> guard(mLock);
            count = mQueue.GetCount();
        }
        mIdle.store(count == 0 ? 1u : 0u);
        for (int32_t i = 0; i < count; ++i) {
            WorkerTask task;
            {
                std::lock_guard<std::mutex> guard(mLock);
                if (mQueue.GetCount() == 0) break;
                task = mQueue.Pop();
            }
            uint8_t again = task.mFunction(this, task.mUserData, task.mArgument);
            if (again != 0) {
                std::lock_guard<std::mutex> guard(mLock);
                mQueue.Push(task);
            }
            if (StopRequested()) {
                SignalStopped();
                return;
            }
        }
        if (StopRequested()) break;
        bool empty;
        {
            std::lock_guard<std::mutex> guard(mLock);
            empty = mQueue.GetCount() == 0;
        }
        int32_t interval = mInterval.load();
        if (interval == kStopRequest) break;
        Sleep(uint32_t(empty ? interval * 10 : interval));
    }
    SignalStopped();
}

namespace {

void RequestStop(WorkerThread* worker) {
    // Under the event lock so that a sleep about to begin cannot miss the wake-up.
    std::lock_guard<std::mutex> guard(worker->mEventLock);
    worker->mInterval.store(kStopRequest);
    worker->mEventSignal.notify_all();
}

bool HasStopped(WorkerThread* worker) {
    std::lock_guard<std::mutex> guard(worker->mEventLock);
    return worker->mStopped;
}

// Frees the released workers whose threads have ended (all of them, waiting, with wait).
void ReapReleased(bool wait) {
    // While the system unloads the library under its loader lock nothing may be waited for:
    // released threads hold the library themselves, so by then they are past our code.
    const NativeWaitPolicy policy = CurrentNativeWaitPolicy();
    if (policy == kNativeTouchNothing) return;
    if (policy == kNativeFreeEndedOnly) wait = false;
    std::vector<WorkerThread*> ended;
    {
        std::lock_guard<ProcessLock> guard(Released().mLock);
        std::vector<WorkerThread*>& workers = Released().mWorkers;
        for (size_t i = 0; i < workers.size();) {
            if (wait || HasStopped(workers[i])) {
                ended.push_back(workers[i]);
                workers[i] = workers.back();
                workers.pop_back();
            } else {
                ++i;
            }
        }
    }
    // A thread that has signalled its end is past its last task: joining it takes no time.
    for (WorkerThread* worker : ended) DestroyWorker(worker);
    if (wait) {
        // Everything is joined (the library or the program is going away): give the list's
        // storage back as well.
        std::lock_guard<ProcessLock> guard(Released().mLock);
        if (Released().mWorkers.empty()) std::vector<WorkerThread*>().swap(Released().mWorkers);
    }
}

} // namespace

WorkerThread* CreateWorker(WorkerFunction function, void* userData) {
    WorkerThread* worker = new (std::nothrow) WorkerThread();
    if (worker == _null) return _null;
    if (function != _null && !worker->mQueue.Push(WorkerTask{function, userData, 0})) {
        delete worker;
        return _null;
    }
    worker->mThread = StartNativeThread([](void* self) { static_cast<WorkerThread*>(self)->Run(); }, worker);
    if (worker->mThread == _null) {
        delete worker;
        return _null;
    }
    return worker;
}

void PostTask(WorkerThread* worker, WorkerFunction function, void* userData) {
    if (worker == _null || function == _null || worker->StopRequested()) return;
    std::lock_guard<std::mutex> guard(worker->mLock);
    worker->mQueue.Push(WorkerTask{function, userData, 0});
}

void DestroyWorker(WorkerThread* worker) {
    if (worker == _null) return;
    if (worker->mThread != _null) {
        RequestStop(worker);
        {
            std::unique_lock<std::mutex> guard(worker->mEventLock);
            worker->mEventSignal.wait(guard, [worker] { return worker->mStopped; });
        }
        JoinNativeThread(worker->mThread);
        worker->mThread = _null;
        std::lock_guard<std::mutex> guard(worker->mLock);
        worker->mQueue.Clear();
    }
    delete worker;
}

void ReleaseWorker(WorkerThread* worker) {
    if (worker == _null) return;
    static JoinReleasedAtExit joinAtExit;
    if (worker->mThread == _null) {
        delete worker;
        return;
    }
    RequestStop(worker);
    bool added = false;
    {
        std::lock_guard<ProcessLock> guard(Released().mLock);
        try {
            Released().mWorkers.push_back(worker);
            added = true;
        } catch (...) {
        }
    }
    // Without room to keep it, the worker is waited for here, as DestroyWorker would.
    if (!added) DestroyWorker(worker);
    ReapReleased(false);
}

void FreeEndedWorkers() { ReapReleased(false); }

void WaitForReleasedWorkers() { ReapReleased(true); }

bool IsStopRequested(const WorkerThread* worker) {
    return worker != _null && worker->StopRequested();
}

bool WorkerSleep(WorkerThread* worker, uint32_t milliseconds) {
    if (worker == _null) return true;
    return worker->Sleep(milliseconds);
}

bool IsWorkerIdle(const WorkerThread* worker) {
    return worker != _null && worker->mIdle.load() != 0;
}

void* GetWorkerThreadId(const WorkerThread* worker) {
    return worker != _null ? worker->mThreadId.load() : _null;
}
