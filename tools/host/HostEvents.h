// Turning the host window's X events into the window messages the loader understands.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

#include "Vexal3DLoader.h"

struct HostMessage {
    uint32_t mId;
    uint32_t mWParam;
    int32_t mLParam;
};

// What translation needs to know about the window between events.
struct HostEventState {
    Atom mTimerAtom = None;     // "VEXAL_WM_TIMER"
    Atom mProtocolsAtom = None; // "WM_PROTOCOLS"
    Atom mDeleteAtom = None;    // "WM_DELETE_WINDOW"
    int32_t mWidth = 0;         // last size reported, so only real changes give WM_SIZE
    int32_t mHeight = 0;
    bool mClosed = false; // set by WM_DELETE_WINDOW or DestroyNotify
};

// Appends the messages one event stands for (none, one, or WM_KEYDOWN followed by WM_CHAR) and
// updates state. Needs no display connection: key text comes from XLookupString on the event.
void TranslateEvent(XEvent& event, HostEventState& state, std::vector<HostMessage>& output);

// The virtual-key code of an X key symbol (letters as upper case, digits, function, arrow,
// editing and modifier keys); 0 for a key without one.
uint32_t VirtualKeyFromKeySym(unsigned long keySym);
