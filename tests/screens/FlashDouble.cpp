// A stand-in for the Flash Player control and its hosting facility.
#include "FlashDouble.h"

#include "support/ScratchFolder.h"

namespace {
FakeFlashPlatform* gCurrent = nullptr;
}

int32_t FakeFlashPlayer::GetVariable(const WideChar* name, String& value) {
    std::string key = NarrowText(name);
    mReads.push_back(key);
    auto found = mVariables.find(key);
    if (found == mVariables.end()) {
        value.Clear();
        return 1;
    }
    value = WideText(found->second);
    return 0;
}

int32_t FakeFlashPlayer::SetVariable(const WideChar* name, const WideChar* value) {
    mWrites.push_back(NarrowText(name) + "=" + NarrowText(value));
    mVariables[NarrowText(name)] = NarrowText(value);
    return 0;
}

int32_t FakeFlashPlayer::LoadMovie(int32_t layer, const WideChar* path) {
    mMoviePath = std::to_string(layer) + " " + NarrowText(path);
    return mLoadResult;
}

int32_t FakeFlashPlayer::SetZoomRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    mZooms.push_back(std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right) + "," +
                     std::to_string(bottom));
    return 0;
}

FakeFlashPlatform::FakeFlashPlatform() {
    mControl.mPlayer = &mPlayer;
    mPlayer.mVariables["$version"] = "WIN 11,2,202,235";
    gCurrent = this;
    SetFlashPlatform(this);
}

FakeFlashPlatform::~FakeFlashPlatform() {
    SetFlashPlatform(nullptr);
    gCurrent = nullptr;
}

FlashWindow FakeFlashPlatform::CreateHostingWindow(FlashWindow, const WideChar* className, const WideChar* text,
                                                   int32_t x, int32_t y, int32_t width, int32_t height) {
    mCreated = NarrowText(className) + " " + NarrowText(text) + " " + std::to_string(x) + "," + std::to_string(y) +
               "," + std::to_string(width) + "," + std::to_string(height);
    return mCreatable ? kHosting : 0;
}

void FakeFlashPlatform::ResizeClientArea(FlashWindow window, int32_t width, int32_t height) {
    if (window == kHosting) mResizes.push_back(std::to_string(width) + "," + std::to_string(height));
}

FlashWindowProcedure FakeFlashPlatform::SetWindowProcedure(FlashWindow, FlashWindowProcedure procedure) {
    FlashWindowProcedure previous = mProcedure;
    mProcedure = procedure;
    return previous;
}

intptr_t FakeFlashPlatform::SetWindowUserData(FlashWindow, intptr_t value) {
    intptr_t previous = mUserData;
    mUserData = value;
    return previous;
}

bool FakeFlashPlatform::UnregisterWindowClass(const WideChar* className) {
    mUnregistered.push_back(NarrowText(className));
    return true;
}

intptr_t FakeFlashPlatform::ControlProcedure(FlashWindow, uint32_t message, uintptr_t, intptr_t) {
    gCurrent->mControlMessages.push_back(std::to_string(message) + " " + std::to_string(gCurrent->mUserData));
    // The control changes its user data while handling a message; the change must survive.
    if (message == 0x0200) gCurrent->mUserData = 0x99;
    return 5;
}
