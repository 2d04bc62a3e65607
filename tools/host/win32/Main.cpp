// vexal-host.exe: the launcher on Windows. Starts GDI+ (the library draws with it and expects
// the host to have started it), loads the loader library, gives it a window (or none), relays
// the window's messages, passes the launch parameters and drives it until the time is up or the
// window closes. Options and output are those of the Linux host.
#include <windows.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "HostLibrary.h"
#include "HostOptions.h"
#include "HostRun.h"
#include "HostText.h"

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

std::wstring Wide(const std::string& text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size_t(length > 0 ? length : 1), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], length);
    out.resize(wcslen(out.c_str()));
    return out;
}

std::string Narrow(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(length > 0 ? length : 1), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
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

int Run(int argc, const char* const* argv) {
    HostOptions options;
    std::string error;
    if (!ParseHostOptions(argc, argv, options, error)) {
        fprintf(stderr, "vexal-host: %s\n%s", error.c_str(), HostUsageText());
        return 2;
    }
    if (options.mHelp) {
        fputs(HostUsageText(), stdout);
        return 0;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    for (const std::string& warning : LaunchParameterWarnings(options))
        fprintf(stderr, "vexal-host: warning: %s\n", warning.c_str());

    // The library path is resolved before changing folder, so a relative --library still works.
    std::string libraryPath = options.mLibrary;
    if (libraryPath.empty()) libraryPath = ExecutableFolder() + "\\Vexal3DLoader-Flash.dll";
    else if (!IsAbsolute(libraryPath)) libraryPath = CurrentFolder() + "\\" + libraryPath;
    for (HostScreenshot& shot : options.mScreenshots)
        if (!IsAbsolute(shot.mPath)) shot.mPath = CurrentFolder() + "\\" + shot.mPath;
    if (!options.mWorkingDirectory.empty()) {
        if (!MakeFolders(options.mWorkingDirectory) || !SetCurrentDirectoryW(Wide(options.mWorkingDirectory).c_str())) {
            fprintf(stderr, "vexal-host: cannot use the folder %s (error %lu)\n", options.mWorkingDirectory.c_str(),
                    GetLastError());
            return 1;
        }
    }

    HostLibrary library;
    if (!library.Load(libraryPath, error)) {
        fprintf(stderr, "vexal-host: %s\n", error.c_str());
        return 1;
    }
    gLibrary = &library;

    HWND window = nullptr;
    if (!options.mHeadless && (window = OpenWindow(options.mWidth, options.mHeight, error)) == nullptr) {
        fprintf(stderr, "vexal-host: %s, running headless\n", error.c_str());
        options.mHeadless = true;
    }
    VexalWindow handle = options.mHeadless ? 0 : reinterpret_cast<VexalWindow>(window);
    SetConsoleCtrlHandler(RequestStop, TRUE);

    const int64_t start = NowNanoseconds();
    library.mCreate(handle, nullptr, nullptr, nullptr, options.mRunMode);
    for (const auto& parameter : options.mParameters) {
        std::u16string name = WideFromUtf8(parameter.first);
        std::u16string value = WideFromUtf8(parameter.second);
        library.mSetup(name.c_str(), value.c_str());
    }
    library.mStart();

    const int64_t framePeriod = kSecond / options.mFps;
    int64_t lastUpdate = NowNanoseconds();
    int64_t nextFrame = lastUpdate;
    int64_t nextReport = start + kSecond;
    int64_t readyAt = -1;
    int64_t longestUpdate = 0;
    bool screenshotFailed = false;

    while (gStopRequested == 0) {
        Pump();
        if (gClosed) break;

        int64_t now = NowNanoseconds();
        if (now >= nextFrame) {
            // Whole milliseconds only; the remainder is carried into the next update.
            uint32_t elapsed = uint32_t(std::min<int64_t>((now - lastUpdate) / 1000000, 0xFFFFFFFF));
            lastUpdate += int64_t(elapsed) * 1000000;
            int64_t before = NowNanoseconds();
            library.mUpdate(nullptr, elapsed);
            longestUpdate = std::max(longestUpdate, NowNanoseconds() - before);
            library.mRender();
            nextFrame += framePeriod;
            if (nextFrame < now) nextFrame = now + framePeriod;

            now = NowNanoseconds();
            float progress = library.mProgress();
            if (progress >= 1.0f && readyAt < 0) {
                readyAt = now;
                printf("ready after %.3f s\n", double(now - start) / 1e9);
            }
            if (now >= nextReport) {
                // The received bytes come from the Linux kernel's socket figures; Windows has
                // none to sample, so only the progress is reported.
                printf("progress %.3f\n", double(progress));
                nextReport = now + kSecond;
            }
            for (HostScreenshot& shot : options.mScreenshots) {
                if (shot.mTaken || !ScreenshotDue(shot, now - start, progress, readyAt < 0 ? -1 : now - readyAt)) continue;
                shot.mTaken = true;
                if (options.mHeadless) {
                    fprintf(stderr, "vexal-host: no window to take %s from\n", shot.mPath.c_str());
                    screenshotFailed = true;
                } else if (!Screenshot(window, shot.mPath, error)) {
                    fprintf(stderr, "vexal-host: screenshot %s failed: %s\n", shot.mPath.c_str(), error.c_str());
                    screenshotFailed = true;
                } else {
                    printf("screenshot %s\n", shot.mPath.c_str());
                }
            }
            if (options.mSeconds >= 0.0 && now - start >= int64_t(options.mSeconds * 1e9)) break;
            if (options.mUntilReady && readyAt >= 0 && now - readyAt >= kReadyLinger &&
                !ProgressShotPending(options.mScreenshots))
                break;
        }

        // Sleep until the next frame, waking early for window messages.
        int64_t wait = nextFrame - NowNanoseconds();
        if (wait > 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD((wait + 999999) / 1000000), QS_ALLINPUT);
    }

    const float finalProgress = library.mProgress();
    printf("final progress %.3f\n", double(finalProgress));
    library.mDelete(handle);
    printf("longest update %.1f ms\n", double(longestUpdate) / 1e6);
    gLibrary = nullptr;
    if (window != nullptr) DestroyWindow(window);

    // A run given an end (a time, or the hand-off) that ends without the progress reaching 1
    // failed; so does a run that could not write a screenshot it was asked for.
    int status = 0;
    if ((options.mUntilReady || options.mSeconds >= 0.0) && readyAt < 0) {
        ReportUnfinishedRun(finalProgress, TraceLogPath());
        status = 1;
    }
    for (const HostScreenshot& shot : options.mScreenshots) {
        if (shot.mTaken) continue;
        fprintf(stderr, "vexal-host: screenshot %s was not taken: the run ended first\n", shot.mPath.c_str());
        screenshotFailed = true;
    }
    if (screenshotFailed) status = 1;
    return status;
}

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
    int status = Run(argc, pointers.data());
    // The library stays loaded (as on Linux), so GDI+ is not shut down under its objects.
    return status;
}
