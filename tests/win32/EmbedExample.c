/* host.c: a minimal Windows host of the loader (the README's example). */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <Vexal3DLoader.h>

/* GDI+'s start and stop from gdiplus.dll (its headers are C++ only); link with gdiplus. */
typedef struct {
    UINT32 version;
    void* debugCallback;
    BOOL suppressBackgroundThread;
    BOOL suppressExternalCodecs;
} GdiPlusInput;
int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiPlusInput* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);

static VexalMessageFunction relay;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    if (relay && (message == WM_TIMER || message == WM_SIZE || message == WM_CHAR ||
                  (message >= WM_KEYDOWN && message <= WM_KEYUP) ||
                  (message >= WM_MOUSEMOVE && message <= WM_RBUTTONUP)))
        relay(NULL, message, (uint32_t)wParam, (int32_t)lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

int main(void) {
    /* The loader draws with GDI+ and expects the host to have started it. */
    GdiPlusInput input = {1, NULL, FALSE, FALSE};
    ULONG_PTR gdiplus = 0;
    GdiplusStartup(&gdiplus, &input, NULL);

    HMODULE library = LoadLibraryW(L"Vexal3DLoader-Flash.dll");
    if (!library) { fprintf(stderr, "cannot load the loader (error %lu)\n", GetLastError()); return 1; }
    VexalCreateFunction create = (VexalCreateFunction)(void*)GetProcAddress(library, "_VexalCreate");
    VexalDeleteFunction destroy = (VexalDeleteFunction)(void*)GetProcAddress(library, "_VexalDelete");
    VexalSetupFunction setup = (VexalSetupFunction)(void*)GetProcAddress(library, "_VexalSetup");
    VexalUpdateFunction update = (VexalUpdateFunction)(void*)GetProcAddress(library, "_VexalUpdate");
    VexalRenderFunction render = (VexalRenderFunction)(void*)GetProcAddress(library, "_VexalRender");
    VexalProgressFunction progress = (VexalProgressFunction)(void*)GetProcAddress(library, "_VexalProgress");
    relay = (VexalMessageFunction)(void*)GetProcAddress(library, "_VexalMessage");
    if (!create || !destroy || !setup || !update || !render || !progress || !relay) return 1;

    WNDCLASSW windowClass = {0};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"GameHost";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"GameHost", L"Game", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 1280, 720, NULL, NULL, windowClass.hInstance, NULL);

    create((VexalWindow)window, NULL, NULL, NULL, 0);
    /* wchar_t is UTF-16 on Windows: L"" texts are the loader's char16_t texts. */
    setup((const char16_t*)L"voaurl", (const char16_t*)L"https://cdn.example.com/game/game.vpk");
    setup((const char16_t*)L"cdnhost", (const char16_t*)L"cdn.example.com");

    DWORD last = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) goto done;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DWORD now = GetTickCount();
        update(NULL, now - last);
        last = now;
        render();
        MsgWaitForMultipleObjects(0, NULL, FALSE, 16, QS_ALLINPUT);
    }
done:
    printf("progress at the end: %.2f\n", progress());
    destroy((VexalWindow)window);
    GdiplusShutdown(gdiplus);
    return 0;
}
