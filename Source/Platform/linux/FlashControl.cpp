// The Flash control services on a platform without the Flash Player control: no hosting window
// can be created, so the loading screen falls back to the script-drawn one.
#include "Source/Platform/FlashControl.h"

#include "Source/Platform/Window.h"

namespace {

class NoFlashPlatform : public IFlashPlatform {
public:
    void InitializeComponents() override {}
    void InitializeModule(FlashHostingModule& module) override { module.mInitialised = true; }
    void TerminateModule(FlashHostingModule& module) override { module.mInitialised = false; }

    void GetClientRect(FlashWindow window, int32_t* right, int32_t* bottom) override {
        GetClientSize(NativeWindow(window), right, bottom);
    }
    FlashWindow CreateHostingWindow(FlashWindow, const WideChar*, const WideChar*, int32_t, int32_t, int32_t,
                                    int32_t) override {
        return 0;
    }
    IFlashControl* GetHostedControl(FlashWindow) override { return _null; }
    FlashWindow GetFirstChild(FlashWindow) override { return 0; }
    void ResizeClientArea(FlashWindow, int32_t, int32_t) override {}
    FlashWindowProcedure SetWindowProcedure(FlashWindow, FlashWindowProcedure) override { return _null; }
    intptr_t SetWindowUserData(FlashWindow, intptr_t) override { return 0; }
    intptr_t GetWindowUserData(FlashWindow) override { return 0; }
    intptr_t CallWindowProcedure(FlashWindowProcedure procedure, FlashWindow window, uint32_t message,
                                 uintptr_t wParam, intptr_t lParam) override {
        return procedure ? procedure(window, message, wParam, lParam) : 0;
    }
    intptr_t DefaultWindowProcedure(FlashWindow, uint32_t, uintptr_t, intptr_t) override { return 0; }
    bool IsWindow(FlashWindow) override { return false; }
    bool DestroyWindow(FlashWindow) override { return false; }
    bool UnregisterWindowClass(const WideChar*) override { return false; }
};

NoFlashPlatform gPlatform;

} // namespace

IFlashPlatform* OwnFlashPlatform() { return &gPlatform; }
