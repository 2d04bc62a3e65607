// The library as a host sees it: the eight exports of Vexal3DLoader-Flash.so, the per-thread
// loader, the window timer and client size on a real X window, and what unloading leaves behind.
#include <dirent.h>
#include <dlfcn.h>
#include <chrono>
#include <cstdio>
#include <thread>
#include "LoaderHarness.h"
#include "support/LoaderLibrary.h"
#include "support/TestDisplay.h"
#include "Source/Platform/Window.h"
// Xlib last: its macros (None, Bool, Status) clash with the test framework's names.
#include <X11/Xlib.h>

namespace {

// Loaded once and kept, as hosts do: the library keeps its log files open for the life of the
// process.
LoaderLibrary& Library() {
    static LoaderLibrary library;
    if (library.mHandle == nullptr)
        library.Open(VEXAL_LOADER_LIBRARY);
    return library;
}

int gHostBadWindows = 0;

int HostErrorHandler(Display*, XErrorEvent* event) {
    if (event->error_code == BadWindow)
        ++gHostBadWindows;
    return 0;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder) != nullptr)
            ++count;
        closedir(folder);
    }
    return count;
}

} // namespace

TEST_F(LoaderTest, UnloadingLeavesTheHostsErrorHandlerAndNoConnections) {
    Display* display = OpenTestDisplay();
    if (display == nullptr)
        GTEST_SKIP() << "no X display";
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 640, 480, 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    XErrorHandler before = XSetErrorHandler(HostErrorHandler);
    int afterFirstRound = 0;
    for (int round = 0; round < 3; ++round) {
        // Load, draw the loading screen a few times (timer, size queries, presenting), unload.
        LoaderLibrary library;
        ASSERT_TRUE(library.Open(VEXAL_LOADER_LIBRARY)) << dlerror();
        ASSERT_EQ(library.mCreate(VexalWindow(window), nullptr, nullptr, nullptr, 0), 1);
        for (int frame = 0; frame < 3; ++frame) {
            library.mUpdate(nullptr, 16);
            library.mRender();
        }
        library.mDelete(VexalWindow(window));
        library.Close();
        if (void* still = dlopen(VEXAL_LOADER_LIBRARY, RTLD_NOW | RTLD_NOLOAD)) {
            dlclose(still);
            GTEST_SKIP() << "the library stays mapped after dlclose here";
        }
        if (round == 0)
            afterFirstRound = OpenDescriptors();
    }
    EXPECT_EQ(OpenDescriptors(), afterFirstRound) << "display connections left open";
    // A BadWindow on the host's own connection goes to the host's handler.
    XUnmapWindow(display, Window(0x3FFFFFFF));
    XSync(display, False);
    EXPECT_EQ(gHostBadWindows, 1);
    XSetErrorHandler(before);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
}

TEST_F(LoaderTest, ExportsWithoutALoaderAnswerTheirDefaults) {
    LoaderLibrary& library = Library();
    ASSERT_NE(library.mProgress, nullptr) << dlerror();
    EXPECT_EQ(library.mProgress(), 0.0f);
    EXPECT_EQ(library.mMessage(nullptr, VEXAL_WM_KEYDOWN, 1, 2), 1);
    EXPECT_EQ(library.mUpdate(nullptr, 16), 1);
    library.mSetup(nullptr, nullptr);
    library.mStart();
    library.mRender();
    EXPECT_EQ(library.mDelete(0), 1);
}

TEST_F(LoaderTest, TheLoaderBelongsToTheThreadThatCreatedIt) {
    LoaderLibrary& library = Library();
    ASSERT_NE(library.mProgress, nullptr) << dlerror();
    ServeGamePackage();
    EXPECT_EQ(library.mCreate(0, nullptr, nullptr, nullptr, 0), 1);
    library.mSetup(u"voaurl", WideText(Url("/pkg")));
    library.mSetup(nullptr, u"ignored");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (library.mProgress() < 0.4f && std::chrono::steady_clock::now() < end) {
        EXPECT_EQ(library.mUpdate(nullptr, 16), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The module reports 0.5 from its first update: 0.4 + 0.6 x 0.5, then the hand-off.
    for (int i = 0; i < 3; ++i)
        library.mUpdate(nullptr, 16);
    EXPECT_FLOAT_EQ(library.mProgress(), 0.7f);
    EXPECT_EQ(library.mMessage(nullptr, VEXAL_WM_KEYDOWN, 65, 0), 1);
    EXPECT_EQ(library.mMessage(nullptr, VEXAL_WM_KEYUP, 65, 0), 0);

    float otherProgress = -1.0f;
    int otherMessage = -1;
    std::thread other([&] {
        otherProgress = library.mProgress();
        otherMessage = library.mMessage(nullptr, VEXAL_WM_KEYUP, 65, 0);
    });
    other.join();
    EXPECT_EQ(otherProgress, 0.0f);
    EXPECT_EQ(otherMessage, 1);

    EXPECT_EQ(library.mDelete(0), 1);
    EXPECT_EQ(library.mProgress(), 0.0f);
    EXPECT_EQ(JournalCount("delete"), 1);
}

TEST(WindowServices, NullWindowHasNoSizeAndNoTimer) {
    int32_t width = -1, height = -1;
    EXPECT_FALSE(GetClientSize(0, &width, &height));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_FALSE(StartWindowTimer(0, 0, 1));
    EXPECT_FALSE(StopWindowTimer(0, 0));
}

TEST(WindowServices, TimerSendsClientMessagesToTheWindowUntilStopped) {
    Display* display = OpenTestDisplay();
    if (display == nullptr)
        GTEST_SKIP() << "no X display";
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 200, 0, 0, 0);
    XSync(display, False);
    const Atom timerAtom = XInternAtom(display, VEXAL_TIMER_ATOM_NAME, False);

    int32_t width = 0, height = 0;
    EXPECT_TRUE(GetClientSize(NativeWindow(window), &width, &height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 200);

    ASSERT_TRUE(StartWindowTimer(NativeWindow(window), 7, 1));
    int ticks = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ticks < 5 && std::chrono::steady_clock::now() < end) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == timerAtom &&
                event.xclient.data.l[0] == 7)
                ++ticks;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(ticks, 5);
    EXPECT_TRUE(StopWindowTimer(NativeWindow(window), 7));
    EXPECT_FALSE(StopWindowTimer(NativeWindow(window), 7));

    // A window destroyed under a running timer must not bring the process down.
    ASSERT_TRUE(StartWindowTimer(NativeWindow(window), 0, 10));
    XDestroyWindow(display, window);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(GetClientSize(NativeWindow(window), &width, &height));
    EXPECT_TRUE(StopWindowTimer(NativeWindow(window), 0));
    XCloseDisplay(display);
}
