// vexal-host.exe: the launcher on Windows. Starts GDI+ (the library draws with it and expects
// the host to have started it), loads the loader library, gives it a window (or none), relays
// the window's messages, passes the launch parameters and drives it until the time is up or the
// window closes. Options and output are those of the Linux host; this file is the Windows side
// of the run (HostRun): the window, the clock, the folders and the console's stop request.
#include <windows.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HostLibrary.h"
#include "HostRun.h"
#include "win32/WideText.h"

namespace {

constexpr const wchar_t* kWindowClass = L"VexalHostWindow";

HostLibrary* gLibrary = nullptr;
bool gClosed = false;
volatile LONG gStopRequested = 0;

BOOL WINAPI RequestStop(DWORD) {
    InterlockedExchange(&gStopRequested, 1);
    return TRUE;
}

int64_t NowNanoseconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return int64_t(double(now.QuadPart) * 1e9 / double(frequency.QuadPart));
}

bool IsAbsolute(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

std::string CurrentFolder() {
    wchar_t folder[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryW(DWORD(sizeof(folder) / sizeof(folder[0])), folder);
    return length > 0 && length < sizeof(folder) / sizeof(folder[0]) ? Narrow(folder) : std::string(".");
}

// Creates the folder and its parents.
bool MakeFolders(const std::string& path) {
    std::wstring wide = Wide(path);
    for (size_t at = wide.find_first_of(L"\\/", 3); at != std::wstring::npos; at = wide.find_first_of(L"\\/", at + 1))
        CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(wide.c_str(), nullptr);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The loader's trace log in the current directory, named after this program as the library
// names it: "<program>-loader-[Trace].log".
std::string TraceLogPath() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, DWORD(sizeof(path) / sizeof(path[0])));
    std::string name = length > 0 ? Narrow(path) : std::string("vexal-host");
    name = name.substr(name.find_last_of("\\/") + 1);
    if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    return CurrentFolder() + "\\" + name + "-loader-[Trace].log";
}

// The messages the loader understands go to it as they come; the rest take the default path.
LRESULT CALLBACK HostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_TIMER:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        if (gLibrary != nullptr && gLibrary->mMessage != nullptr)
            gLibrary->mMessage(nullptr, message, uint32_t(wParam), int32_t(lParam));
        break;
    case WM_CLOSE:
        if (gLibrary != nullptr && gLibrary->mMessage != nullptr) gLibrary->mMessage(nullptr, message, 0, 0);
        gClosed = true;
        return 0;
    case WM_PAINT: {
        // The loader presents each frame itself; the system's repaint request is only validated.
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND OpenWindow(int32_t width, int32_t height, std::string& error) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowExW(0, kWindowClass, L"Vexal3D", style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        error = "cannot create a window (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}

// The window's client area as it shows now, copied by one block transfer into a bitmap and
// written as PNG through GDI+.
bool Screenshot(HWND window, const std::string& path, std::string& error) {
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) {
        error = "the window has no client area";
        return false;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = bitmap != nullptr ? SelectObject(memory, bitmap) : nullptr;
    bool copied = bitmap != nullptr && BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    bool saved = false;
    if (copied) {
        // {557CF406-1A04-11D3-9A73-0000F81EF32E}: the PNG encoder of GDI+.
        const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        Gdiplus::GpBitmap* image = nullptr;
        Gdiplus::Status status = Gdiplus::DllExports::GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppRGB,
                                                                                static_cast<BYTE*>(bits), &image);
        if (status == Gdiplus::Ok) {
            status = Gdiplus::DllExports::GdipSaveImageToFile(image, Wide(path).c_str(), &png, nullptr);
            Gdiplus::DllExports::GdipDisposeImage(image);
        }
        saved = status == Gdiplus::Ok;
        if (!saved) error = "GDI+ could not write the PNG (status " + std::to_string(int(status)) + ")";
    } else {
        error = "the window's pixels could not be copied";
    }
    if (previous != nullptr) SelectObject(memory, previous);
    if (bitmap != nullptr) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return saved;
}

// Handles every waiting message (never blocks).
void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class WindowsHost : public HostPlatform {
public:
    int64_t Now() override { return NowNanoseconds(); }

    std::string LibraryPath(const std::string& given) override {
        if (given.empty()) return ExecutableFolder() + "\\Vexal3DLoader-Flash.dll";
        return AbsolutePath(given);
    }

    std::string AbsolutePath(const std::string& path) override {
        return IsAbsolute(path) ? path : CurrentFolder() + "\\" + path;
    }

    bool EnterFolder(const std::string& path, std::string& error) override {
        if (MakeFolders(path) && SetCurrentDirectoryW(Wide(path).c_str())) return true;
        const DWORD code = GetLastError();
        error = "cannot use the folder " + path + " (error " + std::to_string(code) + ")";
        return false;
    }

    std::string TraceLogPath() override { return ::TraceLogPath(); }

    void SetLibrary(HostLibrary* library) override { gLibrary = library; }
    bool OpenWindow(int32_t width, int32_t height, std::string& error) override {
        mWindow = ::OpenWindow(width, height, error);
        return mWindow != nullptr;
    }
    VexalWindow WindowHandle() override { return reinterpret_cast<VexalWindow>(mWindow); }
    void Pump() override { ::Pump(); }
    bool WindowClosed() override { return gClosed; }
    bool Screenshot(const std::string& path, std::string& error) override { return ::Screenshot(mWindow, path, error); }
    void CloseWindow() override {
        if (mWindow != nullptr) DestroyWindow(mWindow);
        mWindow = nullptr;
    }

    void WatchStopRequests() override { SetConsoleCtrlHandler(RequestStop, TRUE); }
    bool StopRequested() override { return gStopRequested != 0; }
    void Wait(int64_t wait) override {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD((wait + 999999) / 1000000), QS_ALLINPUT);
    }
    // The received bytes come from the Linux kernel's socket figures; Windows has none to sample,
    // so only the progress is reported.
    bool ReceivedBytes(uint64_t&) override { return false; }

private:
    HWND mWindow = nullptr;
};

} // namespace

// Arguments arrive as UTF-16 and go on as UTF-8, as on Linux.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(Narrow(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        fprintf(stderr, "vexal-host: GDI+ could not be started: the loading screen will not draw\n");
    setvbuf(stdout, nullptr, _IONBF, 0);
    WindowsHost platform;
    int status = RunHost(argc, pointers.data(), platform);
    // The library stays loaded (as on Linux), so GDI+ is not shut down under its objects.
    return status;
}
