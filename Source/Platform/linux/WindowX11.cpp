// Window services over Xlib: client size on the library's own display connection, and window
// timers as threads that send the window a ClientMessage at their period.
#include "Source/Platform/Window.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "Source/Platform/linux/XConnections.h"

namespace {

constexpr uint32_t kMinimumTimerPeriodMs = 10;
constexpr const char* kTimerAtomName = "VEXAL_WM_TIMER";

// Errors on our own connections (a window destroyed under a running timer, a size query for a
// stale id) must never reach the host's handler, whose default ends the process. Our handler is
// in place only while one of our connections is open: it remembers the one it replaced, hands
// every other connection's errors on to it, and is taken out again when the last connection
// closes, so that a host unloading the library keeps a handler that still exists.
struct OwnDisplay {
    std::atomic<Display*> display{_null};
    std::atomic<int> errors{0};
};
constexpr int kMaxOwnDisplays = 64;
OwnDisplay gOwnDisplays[kMaxOwnDisplays];
std::mutex gOwnMutex;
int gOwnCount = 0;
std::atomic<XErrorHandler> gPreviousHandler{_null};

int OwnErrorHandler(Display* display, XErrorEvent* event) {
    for (OwnDisplay& own : gOwnDisplays) {
        if (own.display.load(std::memory_order_acquire) == display) {
            own.errors.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
    }
    XErrorHandler previous = gPreviousHandler.load(std::memory_order_acquire);
    return previous != _null ? previous(display, event) : 0;
}

// The host thread's connection for queries.
OwnConnection gQueryConnection;
std::mutex gQueryMutex;
// Before a failed open is tried again.
constexpr auto kReopenPause = std::chrono::seconds(1);
// Opens of a connection the server reset or interrupted, at most, before one counts as failed:
// a busy server resets a connection now and then.
constexpr int kOpenAttempts = 3;

class WindowTimer {
public:
    WindowTimer(NativeWindow window, uint32_t id, uint32_t periodMs)
        : mWindow(window), mId(id),
          mPeriodMs(periodMs < kMinimumTimerPeriodMs ? kMinimumTimerPeriodMs : periodMs) {}

    bool Start(Display* display) {
        mDisplay = display;
        mAtom = XInternAtom(mDisplay, kTimerAtomName, False);
        mThread = std::thread([this] { Run(); });
        return true;
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStopping = true;
        }
        mWake.notify_all();
        if (mThread.joinable())
            mThread.join();
        CloseOwnDisplay(mDisplay);
    }

    NativeWindow GetWindow() const { return mWindow; }
    uint32_t GetId() const { return mId; }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mMutex);
        auto next = std::chrono::steady_clock::now();
        while (!mStopping) {
            next += std::chrono::milliseconds(mPeriodMs);
            if (mWake.wait_until(lock, next, [this] { return mStopping; }))
                break;
            // After a long stall, start counting again from now instead of sending a burst.
            auto now = std::chrono::steady_clock::now();
            if (now > next + std::chrono::milliseconds(mPeriodMs))
                next = now;
            XEvent event = {};
            event.xclient.type = ClientMessage;
            event.xclient.window = Window(mWindow);
            event.xclient.message_type = mAtom;
            event.xclient.format = 32;
            event.xclient.data.l[0] = long(mId);
            XSendEvent(mDisplay, Window(mWindow), False, NoEventMask, &event);
            XFlush(mDisplay);
        }
    }

    NativeWindow mWindow;
    uint32_t mId;
    uint32_t mPeriodMs;
    Display* mDisplay = _null;
    Atom mAtom = 0;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mWake;
    bool mStopping = false;
};

std::mutex gTimersMutex;
// Never destroyed: the library's unload work stops the timers that are left, and when a host
// leaves the library loaded until the process ends that work runs after the static objects of
// the library are gone. A destroyed vector would be freed a second time there. Built in static
// storage rather than on the heap, so that an unload leaves no vector behind either (the unload
// work takes its elements out).
alignas(std::vector<WindowTimer*>) unsigned char gTimersStorage[sizeof(std::vector<WindowTimer*>)];
std::vector<WindowTimer*>& gTimers = *new (gTimersStorage) std::vector<WindowTimer*>();

WindowTimer* TakeTimer(NativeWindow window, uint32_t id) {
    for (size_t i = 0; i < gTimers.size(); ++i) {
        if (gTimers[i]->GetWindow() == window && gTimers[i]->GetId() == id) {
            WindowTimer* timer = gTimers[i];
            gTimers.erase(gTimers.begin() + long(i));
            return timer;
        }
    }
    return _null;
}

} // namespace

Display* OpenOwnDisplay() {
    const char* name = std::getenv("DISPLAY");
    if (name == _null || *name == 0)
        return _null;
    Display* display = _null;
    for (int attempt = 0; attempt < kOpenAttempts && display == _null; ++attempt) {
        errno = 0;
        display = XOpenDisplay(_null);
        if (display == _null && errno != ECONNRESET && errno != EAGAIN && errno != EINTR)
            break;
    }
    if (display == _null)
        return _null;
    std::lock_guard<std::mutex> lock(gOwnMutex);
    for (OwnDisplay& own : gOwnDisplays) {
        if (own.display.load(std::memory_order_relaxed) == _null) {
            own.errors.store(0, std::memory_order_relaxed);
            own.display.store(display, std::memory_order_release);
            break;
        }
    }
    if (gOwnCount++ == 0) {
        XErrorHandler replaced = XSetErrorHandler(OwnErrorHandler);
        if (replaced != OwnErrorHandler)
            gPreviousHandler.store(replaced, std::memory_order_release);
    }
    return display;
}

void CloseOwnDisplay(Display* display) {
    if (display == _null)
        return;
    // Errors still on their way are taken by our handler while the connection is known.
    XSync(display, False);
    std::lock_guard<std::mutex> lock(gOwnMutex);
    for (OwnDisplay& own : gOwnDisplays) {
        Display* expected = display;
        if (own.display.compare_exchange_strong(expected, _null))
            break;
    }
    XCloseDisplay(display);
    if (--gOwnCount == 0) {
        // Put back the handler we replaced, unless the host has put its own in place since.
        XErrorHandler current = XSetErrorHandler(gPreviousHandler.load(std::memory_order_acquire));
        if (current != OwnErrorHandler)
            XSetErrorHandler(current);
    }
}

int OwnDisplayErrors(Display* display) {
    for (OwnDisplay& own : gOwnDisplays) {
        if (own.display.load(std::memory_order_acquire) == display)
            return own.errors.load(std::memory_order_relaxed);
    }
    return 0;
}

Display* OwnConnection::Get(bool* opened) {
    if (opened != _null)
        *opened = false;
    if (mDisplay != _null)
        return mDisplay;
    const auto now = std::chrono::steady_clock::now();
    if (now < mNextTry)
        return _null;
    mDisplay = OpenOwnDisplay();
    if (mDisplay == _null) {
        mNextTry = now + kReopenPause;
        return _null;
    }
    if (opened != _null)
        *opened = true;
    return mDisplay;
}

void OwnConnection::Close() {
    CloseOwnDisplay(mDisplay);
    mDisplay = _null;
    mNextTry = {};
}

bool GetClientSize(NativeWindow window, int32_t* width, int32_t* height) {
    if (width != _null)
        *width = 0;
    if (height != _null)
        *height = 0;
    if (window == 0)
        return false;
    std::lock_guard<std::mutex> lock(gQueryMutex);
    Display* display = gQueryConnection.Get();
    if (display == _null)
        return false;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, Window(window), &attributes) == 0)
        return false;
    if (width != _null)
        *width = attributes.width;
    if (height != _null)
        *height = attributes.height;
    return true;
}

bool StartWindowTimer(NativeWindow window, uint32_t id, uint32_t periodMs) {
    if (window == 0)
        return false;
    StopWindowTimer(window, id);
    Display* display = OpenOwnDisplay();
    if (display == _null)
        return false;
    WindowTimer* timer = new WindowTimer(window, id, periodMs);
    timer->Start(display);
    std::lock_guard<std::mutex> lock(gTimersMutex);
    gTimers.push_back(timer);
    return true;
}

bool StopWindowTimer(NativeWindow window, uint32_t id) {
    WindowTimer* timer;
    {
        std::lock_guard<std::mutex> lock(gTimersMutex);
        timer = TakeTimer(window, id);
    }
    if (timer == _null)
        return false;
    timer->Stop();
    delete timer;
    return true;
}

namespace {

void StopAllWindowTimers() {
    std::vector<WindowTimer*> timers;
    {
        std::lock_guard<std::mutex> lock(gTimersMutex);
        timers.swap(gTimers);
    }
    for (WindowTimer* timer : timers) {
        timer->Stop();
        delete timer;
    }
}

} // namespace

void CloseWindowConnections() {
    StopAllWindowTimers();
    ClosePresentDisplay();
    std::lock_guard<std::mutex> lock(gQueryMutex);
    gQueryConnection.Close();
}
