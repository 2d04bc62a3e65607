// X event to window message translation for vexal-host.
#include "HostEvents.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

// Mouse-message key state flags.
constexpr uint32_t kFlagLeftButton = 0x0001;
constexpr uint32_t kFlagRightButton = 0x0002;
constexpr uint32_t kFlagShift = 0x0004;
constexpr uint32_t kFlagControl = 0x0008;
constexpr uint32_t kFlagMiddleButton = 0x0010;

uint32_t MouseFlags(unsigned int xState) {
    uint32_t flags = 0;
    if (xState & Button1Mask) flags |= kFlagLeftButton;
    if (xState & Button3Mask) flags |= kFlagRightButton;
    if (xState & Button2Mask) flags |= kFlagMiddleButton;
    if (xState & ShiftMask) flags |= kFlagShift;
    if (xState & ControlMask) flags |= kFlagControl;
    return flags;
}

// Coordinates travel as two signed 16-bit halves: x low, y high.
int32_t PackPoint(int x, int y) {
    return int32_t(uint32_t(uint16_t(int16_t(x))) | (uint32_t(uint16_t(int16_t(y))) << 16));
}

} // namespace

uint32_t VirtualKeyFromKeySym(unsigned long keySym) {
    if (keySym >= XK_a && keySym <= XK_z) return uint32_t('A' + (keySym - XK_a));
    if (keySym >= XK_A && keySym <= XK_Z) return uint32_t('A' + (keySym - XK_A));
    if (keySym >= XK_0 && keySym <= XK_9) return uint32_t('0' + (keySym - XK_0));
    if (keySym >= XK_F1 && keySym <= XK_F24) return uint32_t(0x70 + (keySym - XK_F1));
    if (keySym >= XK_KP_0 && keySym <= XK_KP_9) return uint32_t(0x60 + (keySym - XK_KP_0));
    switch (keySym) {
    case XK_BackSpace: return 0x08;
    case XK_Tab:
    case XK_ISO_Left_Tab: return 0x09;
    case XK_Return:
    case XK_KP_Enter: return 0x0D;
    case XK_Shift_L:
    case XK_Shift_R: return 0x10;
    case XK_Control_L:
    case XK_Control_R: return 0x11;
    case XK_Alt_L:
    case XK_Alt_R: return 0x12;
    case XK_Pause: return 0x13;
    case XK_Caps_Lock: return 0x14;
    case XK_Escape: return 0x1B;
    case XK_space: return 0x20;
    case XK_Prior: return 0x21;
    case XK_Next: return 0x22;
    case XK_End: return 0x23;
    case XK_Home: return 0x24;
    case XK_Left: return 0x25;
    case XK_Up: return 0x26;
    case XK_Right: return 0x27;
    case XK_Down: return 0x28;
    case XK_Insert: return 0x2D;
    case XK_Delete: return 0x2E;
    case XK_KP_Multiply: return 0x6A;
    case XK_KP_Add: return 0x6B;
    case XK_KP_Subtract: return 0x6D;
    case XK_KP_Decimal: return 0x6E;
    case XK_KP_Divide: return 0x6F;
    default: return 0;
    }
}

void TranslateEvent(XEvent& event, HostEventState& state, std::vector<HostMessage>& output) {
    switch (event.type) {
    case ConfigureNotify: {
        int32_t width = event.xconfigure.width, height = event.xconfigure.height;
        if (width != state.mWidth || height != state.mHeight) {
            state.mWidth = width;
            state.mHeight = height;
            // wParam 0: the window was resized (not minimised or maximised).
            output.push_back({VEXAL_WM_SIZE, 0, int32_t(uint32_t(width & 0xFFFF) | (uint32_t(height & 0xFFFF) << 16))});
        }
        break;
    }
    case ClientMessage:
        if (state.mTimerAtom != None && event.xclient.message_type == state.mTimerAtom) {
            output.push_back({VEXAL_WM_TIMER, uint32_t(event.xclient.data.l[0]), 0});
        } else if (state.mProtocolsAtom != None && event.xclient.message_type == state.mProtocolsAtom &&
                   Atom(event.xclient.data.l[0]) == state.mDeleteAtom) {
            output.push_back({VEXAL_WM_CLOSE, 0, 0});
            state.mClosed = true;
        }
        break;
    case DestroyNotify:
        state.mClosed = true;
        break;
    case MotionNotify:
        output.push_back({VEXAL_WM_MOUSEMOVE, MouseFlags(event.xmotion.state), PackPoint(event.xmotion.x, event.xmotion.y)});
        break;
    case ButtonPress:
    case ButtonRelease: {
        bool down = event.type == ButtonPress;
        // The flags describe the buttons after the event, as the window system reports them.
        uint32_t flags = MouseFlags(event.xbutton.state);
        uint32_t id = 0;
        if (event.xbutton.button == Button1) {
            id = down ? VEXAL_WM_LBUTTONDOWN : VEXAL_WM_LBUTTONUP;
            flags = down ? (flags | kFlagLeftButton) : (flags & ~kFlagLeftButton);
        } else if (event.xbutton.button == Button3) {
            id = down ? VEXAL_WM_RBUTTONDOWN : VEXAL_WM_RBUTTONUP;
            flags = down ? (flags | kFlagRightButton) : (flags & ~kFlagRightButton);
        }
        if (id != 0) output.push_back({id, flags, PackPoint(event.xbutton.x, event.xbutton.y)});
        break;
    }
    case KeyPress:
    case KeyRelease: {
        char text[8] = {};
        KeySym keySym = NoSymbol;
        int length = XLookupString(&event.xkey, text, sizeof(text), &keySym, nullptr);
        uint32_t key = VirtualKeyFromKeySym(keySym);
        // lParam: repeat count 1, the scan code in bits 16..23; a release also sets bits 30 and 31.
        uint32_t scan = uint32_t(event.xkey.keycode >= 8 ? event.xkey.keycode - 8 : 0) & 0xFF;
        if (event.type == KeyPress) {
            if (key != 0) output.push_back({VEXAL_WM_KEYDOWN, key, int32_t(1u | (scan << 16))});
            // Latin-1 text maps onto the same code points.
            if (length == 1) output.push_back({VEXAL_WM_CHAR, uint32_t(uint8_t(text[0])), int32_t(1u | (scan << 16))});
        } else if (key != 0) {
            output.push_back({VEXAL_WM_KEYUP, key, int32_t(1u | (scan << 16) | 0xC0000000u)});
        }
        break;
    }
    default:
        break;
    }
}
