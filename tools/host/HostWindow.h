// The host's own X11 window: creation, event pumping and screenshots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostEvents.h"

class HostWindow {
public:
    HostWindow() = default;
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    // Opens the display named by $DISPLAY and maps a window of the given client size. False with
    // a reason when there is no display or the window cannot be made; nothing stays open then.
    bool Open(int32_t width, int32_t height, const char* title, std::string& error);
    // Destroys the window and closes the display. Safe to call twice.
    void Close();

    // The window id as the loader takes it (0 when closed).
    VexalWindow Handle() const { return VexalWindow(mWindow); }
    // File descriptor of the display connection, for waiting on events; -1 when closed.
    int ConnectionFd() const;
    // Translates every pending event (never blocks) and appends the resulting messages.
    void Pump(std::vector<HostMessage>& output);
    bool IsClosed() const { return mState.mClosed; }

    // Writes the window's current contents as a PNG. False with a reason on failure.
    bool Screenshot(const std::string& path, std::string& error);

private:
    Display* mDisplay = nullptr;
    unsigned long mWindow = 0;
    HostEventState mState;
};
