// Shared pieces of the loading-screen tests: a loader whose figures the test sets, a working
// folder of its own for each test, and captured log lines.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Source/Common/String.h"
#include "Source/Platform/Log.h"
#include "screens/Vexal3DLoader_Flash.h"
#include "support/ScratchFolder.h"

// The loader the host gets, with the figures and state the loading screen reads made settable
// and the launch parameters it receives after construction recorded.
class ScreenLoader : public Vexal3DLoader_Flash {
public:
    explicit ScreenLoader(uintptr_t window) : Vexal3DLoader_Flash(VexalWindow(window), 0) {}
    void SetProgress(float progress) { mProgress = progress; }
    void SetSpeed(float speed) { mSpeed = speed; }
    void SetCounts(int32_t res, int32_t finish, int32_t size, int32_t done) {
        mResCount = res;
        mFinishCount = finish;
        mResSize = size;
        mFinishSize = done;
    }
    void ForceState(LoaderState state) { mState = state; }
    const String& FlashVersion() const { return mFlashVersion; }
    void Setup(const WideChar* name, const WideChar* value) override {
        mSetupCalls.push_back(NarrowText(name) + "=" + NarrowText(value));
        Vexal3DLoader_Flash::Setup(name, value);
    }
    std::vector<std::string> mSetupCalls;
};

// Runs each test in a fresh current directory (the loader writes its logs, the movie and the
// user-data file there) and captures the trace channel.
class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mFolder.IsValid());
        char previous[4096];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        mPrevious = previous;
        ASSERT_EQ(chdir(mFolder.Native().c_str()), 0);
    }
    void TearDown() override {
        SetLogSinks(nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(chdir(mPrevious.c_str()), 0);
    }
    // From now on trace lines go to mTrace (without their time stamps).
    void CaptureLog() {
        mTrace.clear();
        SetLogSinks(&ScreenTest::Capture, this, &ScreenTest::Capture, this);
    }
    static void Capture(const WideChar* text, void* context, uint8_t) {
        std::string line = NarrowText(text);
        // "yyyy/mm/dd-hh:mm:ss " precedes every message.
        if (line.size() > 20 && line[4] == '/' && line[10] == '-') line = line.substr(20);
        static_cast<ScreenTest*>(context)->mTrace.push_back(line);
    }
    bool HasDisplay() const {
        const char* display = std::getenv("DISPLAY");
        return display && *display;
    }

    ScratchFolder mFolder;
    std::string mPrevious;
    std::vector<std::string> mTrace;
};
