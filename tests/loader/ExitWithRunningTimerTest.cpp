// A host that exits while its loader still has a window timer running: the library's detach step
// stops the timer after the process's static objects are gone, and must find its timer list
// intact (it used to free the list's storage a second time).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>
#include <cstdlib>
#include <string>
#include <X11/Xlib.h>

#include "Vexal3DLoader.h"
#include "support/TestDisplay.h"

namespace {

// Appends an option to an environment variable for the life of the object (the death test's
// child process inherits it).
class EnvironmentChange {
public:
    EnvironmentChange(const char* name, const std::string& option) : mName(name) {
        const char* previous = std::getenv(name);
        mHad = previous != nullptr;
        mSaved = mHad ? previous : "";
        setenv(name, (mSaved + (mSaved.empty() ? "" : ":") + option).c_str(), 1);
    }
    ~EnvironmentChange() {
        if (mHad)
            setenv(mName, mSaved.c_str(), 1);
        else
            unsetenv(mName);
    }

private:
    const char* mName;
    bool mHad;
    std::string mSaved;
};

void CreateLoaderOnAWindowAndExit() {
    Display* display = XOpenDisplay(nullptr);
    for (int attempt = 0; display == nullptr && attempt < 20; ++attempt) {
        usleep(100000);
        display = XOpenDisplay(nullptr);
    }
    if (display == nullptr)
        std::_Exit(3);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 64, 64, 0, 0, 0);
    XFlush(display);
    void* library = dlopen(VEXAL_LOADER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        std::_Exit(4);
    auto create = reinterpret_cast<VexalCreateFunction>(dlsym(library, "_VexalCreate"));
    if (create == nullptr || create(VexalWindow(window), nullptr, nullptr, nullptr, 0) != 1)
        std::_Exit(5);
    // No _VexalDelete and no dlclose: the library is finalised by the process's exit.
    std::exit(0);
}

TEST(LoaderExit, ExitWithARunningWindowTimerEndsCleanly) {
    Display* display = OpenTestDisplay();
    if (display == nullptr)
        GTEST_SKIP() << "no X display";
    XCloseDisplay(display);
    // The child leaves its loader undeleted on purpose, so what the loading screen holds is not
    // freed; only the exit itself is judged.
    const EnvironmentChange asan("ASAN_OPTIONS", "detect_leaks=0");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CreateLoaderOnAWindowAndExit(), testing::ExitedWithCode(0), "");
}

} // namespace
