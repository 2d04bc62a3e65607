// The library's eight exports and its load and unload work. Each export finds the calling
// thread's loader in the thread-local slot and forwards to one of its operations.
#include <new>
#include "Vexal3DLoader.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/DynamicLibrary.h"
#include "Source/Platform/Graphics.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/NativeThread.h"
#include "Source/Platform/ThreadSlot.h"
#include "Source/Platform/WebDownload.h"
#include "Source/Platform/Window.h"
#include "screens/Vexal3DLoader_Flash.h"

namespace {

constexpr uint32_t kTimerId = 0;
constexpr uint32_t kTimerPeriodMs = 1;

void* gLibraryInstance = _null;
ThreadSlot gLoaderSlot = {0, false};

Vexal3DLoader* CurrentLoader() {
    return static_cast<Vexal3DLoader*>(GetThreadSlotValue(gLoaderSlot));
}

__attribute__((constructor)) void AttachLibrary() {
    gLibraryInstance = ModuleBaseOf(reinterpret_cast<const void*>(&AttachLibrary));
    AllocateThreadSlot(gLoaderSlot);
    KeepGraphicsLibrariesLoaded();
}

__attribute__((destructor)) void DetachLibrary() {
    // The process is ending and the system stopped the other threads wherever they were: any
    // lock they held stays held, so nothing is closed, joined or freed.
    if (CurrentNativeWaitPolicy() == kNativeTouchNothing)
        return;
    // Transfers stopped without waiting may still be inside libcurl: their threads run this
    // library's code and may write to the log files, so they end before anything else goes.
    WaitForStoppedTransfers();
    // A host that unloads the library without deleting its loader must not keep a timer thread
    // running code that is about to disappear; nor may Xlib keep our error handler or the
    // connections that pointed at it.
    CloseWindowConnections();
    // The log files belong to this library's code and data: left open they would stay behind
    // as File objects and open descriptors at every unload.
    CloseLogFiles();
    FreeThreadSlot(gLoaderSlot);
    gLibraryInstance = _null;
}

} // namespace

extern "C" {

int _VexalCreate(VexalWindow window, void*, void*, void*, uint32_t runMode) {
    // The transfers an earlier game stopped have had time to end: they are freed now, not at the
    // next stop or at unload, so a host that keeps the library between games keeps nothing of
    // theirs. (A delete frees the ended ones as it stops its own.)
    FreeEndedTransfers();
    Vexal3DLoader* loader = new (std::nothrow) Vexal3DLoader_Flash(window, runMode);
    SetThreadSlotValue(gLoaderSlot, loader);
    StartWindowTimer(window, kTimerId, kTimerPeriodMs);
    return 1;
}

int _VexalDelete(VexalWindow window) {
    StopWindowTimer(window, kTimerId);
    delete CurrentLoader();
    return SetThreadSlotValue(gLoaderSlot, _null) ? 1 : 0;
}

void _VexalSetup(const char16_t* name, const char16_t* value) {
    if (Vexal3DLoader* loader = CurrentLoader())
        loader->Setup(name != _null ? name : u"", value != _null ? value : u"");
}

void _VexalStart(void) {
}

int _VexalUpdate(void*, uint32_t elapsedMs) {
    if (Vexal3DLoader* loader = CurrentLoader()) {
        const uint64_t start = ReadHighResolutionCounter();
        loader->Update(elapsedMs);
        loader->NoteUpdateTime(ReadHighResolutionCounter() - start);
    }
    return 1;
}

void _VexalRender(void) {
    if (Vexal3DLoader* loader = CurrentLoader())
        loader->Render();
}

int _VexalMessage(void*, uint32_t message, uint32_t wParam, int32_t lParam) {
    Vexal3DLoader* loader = CurrentLoader();
    if (loader == _null)
        return 1;
    return loader->Message(MessageRecord{message, wParam, lParam}) ? 1 : 0;
}

float _VexalProgress(void) {
    Vexal3DLoader* loader = CurrentLoader();
    return loader != _null ? loader->GetProgress() : 0.0f;
}

} // extern "C"
