// Worker threads: task passes, repeated tasks, posting, stop requests that cut sleeps short.
#include <gtest/gtest.h>

#include "Source/Platform/WorkerThread.h"
#include "web/WebTestSupport.h"

namespace {

struct Counter {
    std::atomic<int> mRuns{0};
    int mRepeat = 0;
    std::atomic<void*> mThreadId{nullptr};
    std::atomic<bool> mSleepCut{false};
};

uint8_t CountRuns(WorkerThread* worker, void* data, int32_t argument) {
    Counter* counter = static_cast<Counter*>(data);
    EXPECT_EQ(argument, 0);
    counter->mThreadId.store(GetWorkerThreadId(worker));
    int runs = ++counter->mRuns;
    return runs < counter->mRepeat ? 1 : 0;
}

uint8_t SleepLong(WorkerThread* worker, void* data, int32_t) {
    Counter* counter = static_cast<Counter*>(data);
    ++counter->mRuns;
    counter->mSleepCut.store(!WorkerSleep(worker, 60000));
    return 0;
}

// The first task runs at once; a task asking to run again does so on later passes (100 ms
// apart); posted tasks run on a later pass; the worker then idles.
TEST(WorkerThread, RunsQueuedAndRepeatedTasks) {
    Counter repeated;
    repeated.mRepeat = 3;
    WorkerThread* worker = CreateWorker(CountRuns, &repeated);
    ASSERT_NE(worker, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return repeated.mRuns.load() == 3; }, 5000));
    EXPECT_NE(repeated.mThreadId.load(), nullptr);
    EXPECT_EQ(GetWorkerThreadId(worker), repeated.mThreadId.load());

    Counter posted;
    posted.mRepeat = 1;
    PostTask(worker, CountRuns, &posted);
    PostTask(worker, CountRuns, &posted);
    ASSERT_TRUE(WaitUntil([&] { return posted.mRuns.load() == 2; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return IsWorkerIdle(worker); }, 5000));
    EXPECT_EQ(repeated.mRuns.load(), 3);
    DestroyWorker(worker);
    EXPECT_EQ(posted.mRuns.load(), 2);
}

// A stop request wakes a task's sleep at once; destroying an idle worker does not wait out its
// one-second idle sleep.
TEST(WorkerThread, StopCutsSleepsShort) {
    Counter sleeper;
    WorkerThread* worker = CreateWorker(SleepLong, &sleeper);
    ASSERT_TRUE(WaitUntil([&] { return sleeper.mRuns.load() == 1; }, 5000));
    auto start = std::chrono::steady_clock::now();
    DestroyWorker(worker);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_TRUE(sleeper.mSleepCut.load());

    Counter idle;
    idle.mRepeat = 1;
    worker = CreateWorker(CountRuns, &idle);
    ASSERT_TRUE(WaitUntil([&] { return IsWorkerIdle(worker); }, 5000));
    start = std::chrono::steady_clock::now();
    DestroyWorker(worker);
    EXPECT_LT(ElapsedMs(start), 500);

    EXPECT_FALSE(IsStopRequested(nullptr));
    EXPECT_FALSE(IsWorkerIdle(nullptr));
    EXPECT_EQ(GetWorkerThreadId(nullptr), nullptr);
    EXPECT_TRUE(WorkerSleep(nullptr, 1));
    PostTask(nullptr, CountRuns, &idle);
    DestroyWorker(nullptr);
}

} // namespace
