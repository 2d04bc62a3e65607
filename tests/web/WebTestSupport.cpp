// Helpers of the web service tests.
#include "web/WebTestSupport.h"

#include <gtest/gtest.h>

#include "Source/Common/Buffer.h"
#include "Source/Platform/Log.h"

CapturedLog& CapturedLog::Get() {
    static CapturedLog log;
    return log;
}

void CapturedLog::Install() { SetLogSinks(Sink, this, Sink, this); }

void CapturedLog::Sink(const WideChar* text, void* context, uint8_t endLine) {
    CapturedLog* log = static_cast<CapturedLog*>(context);
    std::lock_guard<std::mutex> guard(log->mLock);
    for (const WideChar* unit = text; *unit != 0; ++unit) {
        log->mCurrent.push_back(*unit < 0x80 ? char(*unit) : '?');
    }
    if (endLine != 0) {
        log->mLines.push_back(log->mCurrent);
        log->mCurrent.clear();
    }
}

void CapturedLog::Clear() {
    std::lock_guard<std::mutex> guard(mLock);
    mLines.clear();
}

std::vector<std::string> CapturedLog::Lines() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mLines;
}

bool CapturedLog::Contains(const std::string& text) const { return Count(text) > 0; }

size_t CapturedLog::Count(const std::string& text) const {
    std::lock_guard<std::mutex> guard(mLock);
    size_t count = 0;
    for (const std::string& line : mLines) {
        if (line.find(text) != std::string::npos) ++count;
    }
    return count;
}

std::string PatternBody(size_t size, uint32_t seed) {
    std::string body(size, '\0');
    uint32_t state = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        body[i] = char((state >> 16) & 0xFF);
    }
    return body;
}

std::string BufferText(const Buffer& buffer) {
    if (buffer.GetSize() == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize());
}

namespace {

// The trace channel is routed once, before the first worker thread exists.
class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { CapturedLog::Get().Install(); }
};

const ::testing::Environment* const kLogEnvironment =
    ::testing::AddGlobalTestEnvironment(new LogEnvironment());

} // namespace
