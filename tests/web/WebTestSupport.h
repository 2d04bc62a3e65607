// Helpers of the web service tests: a captured trace channel, waiting for the progress value.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Common/Types.h"
#include "Source/Platform/WebDownload.h"
#include "support/HttpTestServer.h"

// A test server and one web handle, made before each test and destroyed after it.
class WebHandleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mServer.Start());
        mHandle = CreateWebHandle(false);
        ASSERT_NE(mHandle, nullptr);
    }
    void TearDown() override {
        DestroyWebHandle(mHandle);
        WaitForStoppedTransfers();
        mServer.Stop();
    }

    HttpTestServer mServer;
    WebHandle* mHandle = nullptr;
};

// Every line written to the trace and error channels while the tests run, as ASCII.
class CapturedLog {
public:
    static CapturedLog& Get();
    // Routes both channels here (once, before any worker thread logs).
    void Install();
    void Clear();
    std::vector<std::string> Lines() const;
    // True when a line contains the text.
    bool Contains(const std::string& text) const;
    size_t Count(const std::string& text) const;

private:
    static void Sink(const WideChar* text, void* context, uint8_t endLine);
    mutable std::mutex mLock;
    std::string mCurrent;
    std::vector<std::string> mLines;
};

// Polls every few milliseconds until the condition holds; false after timeoutMs.
template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Waits for the progress value to read exactly 1.0.
inline bool WaitForCompletion(const std::atomic<float>& progress, int timeoutMs = 15000) {
    return WaitUntil([&] { return progress.load() == 1.0f; }, timeoutMs);
}

// A body of the given size whose bytes differ from their neighbours (offset errors show).
std::string PatternBody(size_t size, uint32_t seed = 1);
// The target's bytes as a string.
class Buffer;
std::string BufferText(const Buffer& buffer);

// Milliseconds elapsed since start.
inline long long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}
