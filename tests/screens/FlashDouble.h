// A stand-in for the Flash Player control and its hosting facility: records what the Flash
// host asks of them and plays the movie's side of the variable exchange.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Source/Platform/FlashControl.h"

class FakeFlashPlayer : public IFlashPlayer {
public:
    void Release() override { ++mReleases; }
    int32_t PutBackgroundColor(int32_t colour) override {
        mBackground = colour;
        return 0;
    }
    int32_t GetVariable(const WideChar* name, String& value) override;
    int32_t SetVariable(const WideChar* name, const WideChar* value) override;
    int32_t LoadMovie(int32_t layer, const WideChar* path) override;
    int32_t Play() override {
        ++mPlays;
        return 0;
    }
    int32_t SetZoomRect(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
    int32_t PutMenu(bool shown) override {
        mMenu = shown ? 1 : 0;
        return 0;
    }

    std::map<std::string, std::string> mVariables; // the movie's variables
    std::vector<std::string> mWrites;              // "name=value" in order
    std::vector<std::string> mReads;               // names in order
    std::vector<std::string> mZooms;               // "l,t,r,b"
    std::string mMoviePath;
    int32_t mLoadResult = 0;
    int mReleases = 0, mPlays = 0, mMenu = -1;
    int32_t mBackground = -1;
};

class FakeFlashControl : public IFlashControl {
public:
    IFlashPlayer* QueryFlashPlayer() override { return mPlayer; }
    void Release() override { ++mReleases; }
    IFlashPlayer* mPlayer = nullptr;
    int mReleases = 0;
};

class FakeFlashPlatform : public IFlashPlatform {
public:
    FakeFlashPlatform();
    ~FakeFlashPlatform() override;

    void InitializeComponents() override { ++mInitialised; }
    void InitializeModule(FlashHostingModule& module) override { module.mInitialised = true; }
    void TerminateModule(FlashHostingModule& module) override {
        module.mInitialised = false;
        ++mTerminated;
    }
    void GetClientRect(FlashWindow, int32_t* right, int32_t* bottom) override {
        *right = mClientWidth;
        *bottom = mClientHeight;
    }
    FlashWindow CreateHostingWindow(FlashWindow parent, const WideChar* className, const WideChar* text, int32_t x,
                                    int32_t y, int32_t width, int32_t height) override;
    IFlashControl* GetHostedControl(FlashWindow) override { return mHasControl ? &mControl : nullptr; }
    FlashWindow GetFirstChild(FlashWindow window) override { return window == kHosting ? kControl : 0; }
    void ResizeClientArea(FlashWindow window, int32_t width, int32_t height) override;
    FlashWindowProcedure SetWindowProcedure(FlashWindow, FlashWindowProcedure procedure) override;
    intptr_t SetWindowUserData(FlashWindow, intptr_t value) override;
    intptr_t GetWindowUserData(FlashWindow) override { return mUserData; }
    intptr_t CallWindowProcedure(FlashWindowProcedure procedure, FlashWindow window, uint32_t message,
                                 uintptr_t wParam, intptr_t lParam) override {
        return procedure(window, message, wParam, lParam);
    }
    intptr_t DefaultWindowProcedure(FlashWindow, uint32_t, uintptr_t, intptr_t) override { return -7; }
    bool IsWindow(FlashWindow window) override { return window == kHosting && !mDestroyed; }
    bool DestroyWindow(FlashWindow) override {
        mDestroyed = true;
        return true;
    }
    bool UnregisterWindowClass(const WideChar* className) override;

    static constexpr FlashWindow kHosting = 0x501;
    static constexpr FlashWindow kControl = 0x502;

    // The control's own procedure: records the message and the user data it saw.
    static intptr_t ControlProcedure(FlashWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);

    bool mCreatable = true;
    bool mHasControl = true;
    bool mDestroyed = false;
    int32_t mClientWidth = 1280, mClientHeight = 720;
    std::string mCreated;              // "class text x,y,w,h"
    std::vector<std::string> mResizes; // "w,h"
    std::vector<std::string> mUnregistered;
    FlashWindowProcedure mProcedure = &ControlProcedure;
    intptr_t mUserData = 0x77;
    std::vector<std::string> mControlMessages; // "message userdata"
    int mInitialised = 0, mTerminated = 0;
    FakeFlashPlayer mPlayer;
    FakeFlashControl mControl;
};
