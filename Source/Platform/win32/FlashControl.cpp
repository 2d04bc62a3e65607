// The Flash control on Windows: the hosting window class "AtlAxWin90" of atl90.dll (registered
// by its AtlAxWinInit), the control asked of the hosting window with AtlAxGetControl, and its
// scripting interface IShockwaveFlash, declared here by hand since the toolchain ships no ATL or
// Flash headers. The loading screen's window procedure is put in front of the control's.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <new>

// <windows.h> declares a function FlashWindow; our window handle type of that name is the same
// type under another name here (a typedef changes no symbol).
#define FlashWindow FlashWindowHandle
#include "Source/Platform/FlashControl.h"

#include "Source/Platform/Window.h"
#include "Source/Platform/win32/WideText.h"

namespace {

// {D27CDB6C-AE6D-11CF-96B8-444553540000}
const IID kShockwaveFlashInterface = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// The control's dual interface in the order of its type library, up to the last method the
// loading screen calls (GetVariable); the methods it does not call keep their slots.
struct IShockwaveFlash : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_ReadyState(long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TotalFrames(long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Playing(VARIANT_BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Playing(VARIANT_BOOL) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Quality(int*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Quality(int) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ScaleMode(int*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ScaleMode(int) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AlignMode(int*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AlignMode(int) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BackgroundColor(long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BackgroundColor(long) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Loop(VARIANT_BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Loop(VARIANT_BOOL) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Movie(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Movie(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FrameNum(long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FrameNum(long) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetZoomRect(long, long, long, long) = 0;
    virtual HRESULT STDMETHODCALLTYPE Zoom(int) = 0;
    virtual HRESULT STDMETHODCALLTYPE Pan(long, long, int) = 0;
    virtual HRESULT STDMETHODCALLTYPE Play() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Back() = 0;
    virtual HRESULT STDMETHODCALLTYPE Forward() = 0;
    virtual HRESULT STDMETHODCALLTYPE Rewind() = 0;
    virtual HRESULT STDMETHODCALLTYPE StopPlay() = 0;
    virtual HRESULT STDMETHODCALLTYPE GotoFrame(long) = 0;
    virtual HRESULT STDMETHODCALLTYPE CurrentFrame(long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPlaying(VARIANT_BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE PercentLoaded(long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE FrameLoaded(long, VARIANT_BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE FlashVersion(long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WMode(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WMode(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SAlign(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SAlign(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Menu(VARIANT_BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Menu(VARIANT_BOOL) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Base(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Base(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Scale(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Scale(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DeviceFont(VARIANT_BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DeviceFont(VARIANT_BOOL) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_EmbedMovie(VARIANT_BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_EmbedMovie(VARIANT_BOOL) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BGColor(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BGColor(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Quality2(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Quality2(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadMovie(int, BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE TGotoFrame(BSTR, long) = 0;
    virtual HRESULT STDMETHODCALLTYPE TGotoLabel(BSTR, BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE TCurrentFrame(BSTR, long*) = 0;
    virtual HRESULT STDMETHODCALLTYPE TCurrentLabel(BSTR, BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE TPlay(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE TStopPlay(BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVariable(BSTR, BSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVariable(BSTR, BSTR*) = 0;
};

// A BSTR for the length of one call.
class SystemString {
public:
    explicit SystemString(const WideChar* text) : mText(SysAllocString(SystemText(text != _null ? text : u""))) {}
    ~SystemString() { SysFreeString(mText); }
    SystemString(const SystemString&) = delete;
    SystemString& operator=(const SystemString&) = delete;
    operator BSTR() const { return mText; }

private:
    BSTR mText;
};

class FlashPlayer : public IFlashPlayer {
public:
    explicit FlashPlayer(IShockwaveFlash* flash) : mFlash(flash) {}
    void Release() override {
        mFlash->Release();
        delete this;
    }
    int32_t PutBackgroundColor(int32_t colour) override { return mFlash->put_BackgroundColor(colour); }
    int32_t GetVariable(const WideChar* name, String& value) override {
        value = String();
        BSTR text = _null;
        HRESULT result = mFlash->GetVariable(SystemString(name), &text);
        if (SUCCEEDED(result) && text != _null) value = String(EngineText(text));
        SysFreeString(text);
        return result;
    }
    int32_t SetVariable(const WideChar* name, const WideChar* value) override {
        return mFlash->SetVariable(SystemString(name), SystemString(value));
    }
    int32_t LoadMovie(int32_t layer, const WideChar* path) override { return mFlash->LoadMovie(layer, SystemString(path)); }
    int32_t Play() override { return mFlash->Play(); }
    int32_t SetZoomRect(int32_t left, int32_t top, int32_t right, int32_t bottom) override {
        return mFlash->SetZoomRect(left, top, right, bottom);
    }
    int32_t PutMenu(bool shown) override { return mFlash->put_Menu(shown ? VARIANT_TRUE : VARIANT_FALSE); }

private:
    ~FlashPlayer() override {}
    IShockwaveFlash* mFlash;
};

class FlashControl : public IFlashControl {
public:
    explicit FlashControl(IUnknown* unknown) : mUnknown(unknown) {}
    IFlashPlayer* QueryFlashPlayer() override {
        void* flash = _null;
        if (FAILED(mUnknown->QueryInterface(kShockwaveFlashInterface, &flash)) || flash == _null) return _null;
        FlashPlayer* player = new (std::nothrow) FlashPlayer(static_cast<IShockwaveFlash*>(flash));
        if (player == _null) static_cast<IShockwaveFlash*>(flash)->Release();
        return player;
    }
    void Release() override {
        mUnknown->Release();
        delete this;
    }

private:
    ~FlashControl() override {}
    IUnknown* mUnknown;
};

typedef BOOL(WINAPI* AtlAxWinInitFunction)();
typedef HRESULT(WINAPI* AtlAxGetControlFunction)(HWND, IUnknown**);

// atl90.dll stays loaded once found: its window classes and controls outlive any one loader.
struct HostingLibrary {
    bool tried = false;
    AtlAxWinInitFunction init = _null;
    AtlAxGetControlFunction getControl = _null;
};
HostingLibrary gHosting;

HostingLibrary& Hosting() {
    if (!gHosting.tried) {
        gHosting.tried = true;
        if (HMODULE atl = LoadLibraryW(L"atl90.dll")) {
            gHosting.init = reinterpret_cast<AtlAxWinInitFunction>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
            gHosting.getControl = reinterpret_cast<AtlAxGetControlFunction>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
        }
    }
    return gHosting;
}

IUnknown* QueryControl(HWND hosting) {
    IUnknown* unknown = _null;
    if (Hosting().getControl == _null || FAILED(Hosting().getControl(hosting, &unknown))) return _null;
    return unknown;
}

HWND AsWindow(FlashWindow window) { return reinterpret_cast<HWND>(window); }

// Window procedures of the loading screen are cdecl functions of ours; the system calls a window
// procedure as stdcall. One stdcall procedure stands in for them and finds the one to call in a
// window property. The procedures the system had before are handed out as opaque values and
// remembered, so that handing one back puts it in place again and calling one goes through
// CallWindowProcW.
constexpr const wchar_t* kProcedureProperty = L"VexalWindowProcedure";
constexpr int kMaxSystemProcedures = 64;
WNDPROC gSystemProcedures[kMaxSystemProcedures];
int gSystemProcedureCount = 0;

bool IsSystemProcedure(FlashWindowProcedure procedure) {
    for (int i = 0; i < gSystemProcedureCount; ++i)
        if (reinterpret_cast<void*>(gSystemProcedures[i]) == reinterpret_cast<void*>(procedure)) return true;
    return false;
}

void RememberSystemProcedure(WNDPROC procedure) {
    if (procedure == _null || IsSystemProcedure(reinterpret_cast<FlashWindowProcedure>(reinterpret_cast<void*>(procedure)))) return;
    if (gSystemProcedureCount < kMaxSystemProcedures) gSystemProcedures[gSystemProcedureCount++] = procedure;
}

LRESULT CALLBACK ForwardToOwnProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    FlashWindowProcedure procedure = reinterpret_cast<FlashWindowProcedure>(GetPropW(window, kProcedureProperty));
    if (procedure == _null) return DefWindowProcW(window, message, wParam, lParam);
    return procedure(FlashWindow(window), message, wParam, lParam);
}

class WindowsFlashPlatform : public IFlashPlatform {
public:
    void InitializeComponents() override {
        CoInitialize(_null);
        if (Hosting().init != _null) Hosting().init();
    }
    void InitializeModule(FlashHostingModule& module) override { module.mInitialised = true; }
    void TerminateModule(FlashHostingModule& module) override { module.mInitialised = false; }

    void GetClientRect(FlashWindow window, int32_t* right, int32_t* bottom) override {
        GetClientSize(NativeWindow(window), right, bottom);
    }
    // ATL aborts the creation of a hosting window whose control cannot be created; Wine's
    // hosting window stays without one. Such a window hosts nothing and is not kept, so that
    // both give the script-drawn screen.
    FlashWindow CreateHostingWindow(FlashWindow parent, const WideChar* className, const WideChar* text, int32_t x,
                                    int32_t y, int32_t width, int32_t height) override {
        if (Hosting().init == _null) return 0;
        HWND window = CreateWindowExW(0, SystemText(className), SystemText(text), WS_CHILD | WS_VISIBLE, x, y, width, height,
                                      AsWindow(parent), _null, GetModuleHandleW(_null), _null);
        if (window == _null) return 0;
        IUnknown* control = QueryControl(window);
        if (control == _null) {
            ::DestroyWindow(window);
            return 0;
        }
        control->Release();
        return FlashWindow(window);
    }
    IFlashControl* GetHostedControl(FlashWindow hostingWindow) override {
        IUnknown* control = QueryControl(AsWindow(hostingWindow));
        if (control == _null) return _null;
        FlashControl* wrapped = new (std::nothrow) FlashControl(control);
        if (wrapped == _null) control->Release();
        return wrapped;
    }
    FlashWindow GetFirstChild(FlashWindow window) override { return FlashWindow(GetWindow(AsWindow(window), GW_CHILD)); }
    void ResizeClientArea(FlashWindow window, int32_t width, int32_t height) override {
        RECT frame = {0, 0, width, height};
        AdjustWindowRectEx(&frame, DWORD(GetWindowLongW(AsWindow(window), GWL_STYLE)), FALSE,
                           DWORD(GetWindowLongW(AsWindow(window), GWL_EXSTYLE)));
        SetWindowPos(AsWindow(window), _null, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    FlashWindowProcedure SetWindowProcedure(FlashWindow window, FlashWindowProcedure procedure) override {
        HWND handle = AsWindow(window);
        WNDPROC current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(handle, GWLP_WNDPROC));
        FlashWindowProcedure previous;
        if (current == ForwardToOwnProcedure) {
            previous = reinterpret_cast<FlashWindowProcedure>(GetPropW(handle, kProcedureProperty));
        } else {
            RememberSystemProcedure(current);
            previous = reinterpret_cast<FlashWindowProcedure>(reinterpret_cast<void*>(current));
        }
        if (procedure == _null) return previous;
        if (IsSystemProcedure(procedure)) {
            SetWindowLongPtrW(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
            RemovePropW(handle, kProcedureProperty);
        } else {
            SetPropW(handle, kProcedureProperty, reinterpret_cast<HANDLE>(procedure));
            if (current != ForwardToOwnProcedure)
                SetWindowLongPtrW(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ForwardToOwnProcedure));
        }
        return previous;
    }
    intptr_t SetWindowUserData(FlashWindow window, intptr_t value) override {
        return SetWindowLongPtrW(AsWindow(window), GWLP_USERDATA, value);
    }
    intptr_t GetWindowUserData(FlashWindow window) override { return GetWindowLongPtrW(AsWindow(window), GWLP_USERDATA); }
    intptr_t CallWindowProcedure(FlashWindowProcedure procedure, FlashWindow window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) override {
        if (procedure == _null) return 0;
        if (IsSystemProcedure(procedure))
            return CallWindowProcW(reinterpret_cast<WNDPROC>(reinterpret_cast<void*>(procedure)), AsWindow(window), message,
                                   wParam, lParam);
        return procedure(window, message, wParam, lParam);
    }
    intptr_t DefaultWindowProcedure(FlashWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        return DefWindowProcW(AsWindow(window), message, wParam, lParam);
    }
    bool IsWindow(FlashWindow window) override { return window != 0 && ::IsWindow(AsWindow(window)); }
    bool DestroyWindow(FlashWindow window) override { return ::DestroyWindow(AsWindow(window)) != 0; }
    bool UnregisterWindowClass(const WideChar* className) override {
        return UnregisterClassW(SystemText(className), GetModuleHandleW(_null)) != 0;
    }
};

WindowsFlashPlatform gPlatform;

} // namespace

IFlashPlatform* OwnFlashPlatform() { return &gPlatform; }
