// The Flash Player control and the facility that hosts it in a child window: exactly the
// operations the Flash loading screen needs. Where the platform has no such control (Linux),
// no hosting window can be created and the loading screen is drawn by script instead.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

// A window handle of the platform in a pointer-sized integer; 0 is no window.
typedef uintptr_t FlashWindow;
// A window procedure: (window, message, wParam, lParam) -> result.
typedef intptr_t (*FlashWindowProcedure)(FlashWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The hosting facility's class of window that creates the control inside itself, and its
// licensed twin; the text of a hosting window names the control's class.
constexpr const WideChar* kFlashHostWindowClass = u"AtlAxWin90";
constexpr const WideChar* kFlashHostLicenseClass = u"AtlAxWinLic90";
constexpr const WideChar* kFlashControlClassId = u"{D27CDB6E-AE6D-11cf-96B8-444553540000}";

// The control's scripting interface (IShockwaveFlash). Every call returns the control's result
// (0 for success). A reference counts once; Release gives it up (the object may go away).
class IFlashPlayer {
public:
    virtual void Release() = 0;
    virtual int32_t PutBackgroundColor(int32_t colour) = 0;
    // The movie variable's current text into value; a failure leaves value empty.
    virtual int32_t GetVariable(const WideChar* name, String& value) = 0;
    virtual int32_t SetVariable(const WideChar* name, const WideChar* value) = 0;
    // Loads the movie at a full file path into a layer (0 is the main movie).
    virtual int32_t LoadMovie(int32_t layer, const WideChar* path) = 0;
    virtual int32_t Play() = 0;
    virtual int32_t SetZoomRect(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
    virtual int32_t PutMenu(bool shown) = 0;

protected:
    virtual ~IFlashPlayer() {}
};

// The control's identity object (IUnknown) as the hosting window hands it out.
class IFlashControl {
public:
    // The scripting interface (a new reference), or null when the control has none.
    virtual IFlashPlayer* QueryFlashPlayer() = 0;
    virtual void Release() = 0;

protected:
    virtual ~IFlashControl() {}
};

// The hosting facility's module object; must exist while a control is hosted.
struct FlashHostingModule {
    bool mInitialised = false;
};

// The window and hosting services. All calls come from the thread that owns the host window.
class IFlashPlatform {
public:
    virtual ~IFlashPlatform() {}

    // Starts the component services for this thread (apartment model) and the hosting facility
    // (registers its window classes). Results are not reported.
    virtual void InitializeComponents() = 0;
    virtual void InitializeModule(FlashHostingModule& module) = 0;
    virtual void TerminateModule(FlashHostingModule& module) = 0;

    // The client rectangle of a window: left and top 0, right and bottom its size (all 0 when
    // the window has none or does not exist).
    virtual void GetClientRect(FlashWindow window, int32_t* right, int32_t* bottom) = 0;
    // A visible child window of the hosting class at (x, y) of size width x height whose text is
    // the control's class id; the window creates the control. 0 when it cannot be created.
    virtual FlashWindow CreateHostingWindow(FlashWindow parent, const WideChar* className, const WideChar* text,
                                            int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    // The control hosted by a hosting window (a new reference), or null.
    virtual IFlashControl* GetHostedControl(FlashWindow hostingWindow) = 0;
    virtual FlashWindow GetFirstChild(FlashWindow window) = 0;
    // Resizes the window so its client area is width x height; position, stacking order and
    // activation stay.
    virtual void ResizeClientArea(FlashWindow window, int32_t width, int32_t height) = 0;

    // Replaces the window's procedure / user data and returns the previous one.
    virtual FlashWindowProcedure SetWindowProcedure(FlashWindow window, FlashWindowProcedure procedure) = 0;
    virtual intptr_t SetWindowUserData(FlashWindow window, intptr_t value) = 0;
    virtual intptr_t GetWindowUserData(FlashWindow window) = 0;
    virtual intptr_t CallWindowProcedure(FlashWindowProcedure procedure, FlashWindow window, uint32_t message,
                                         uintptr_t wParam, intptr_t lParam) = 0;
    virtual intptr_t DefaultWindowProcedure(FlashWindow window, uint32_t message, uintptr_t wParam,
                                            intptr_t lParam) = 0;
    virtual bool IsWindow(FlashWindow window) = 0;
    virtual bool DestroyWindow(FlashWindow window) = 0;
    virtual bool UnregisterWindowClass(const WideChar* className) = 0;
};

// The platform's services: the Linux implementation has no control, so CreateHostingWindow
// always fails there. Never null.
IFlashPlatform* GetFlashPlatform();
// The platform's own services, whatever is installed.
IFlashPlatform* OwnFlashPlatform();
// Replaces the services (tests install a double); null restores the platform's own. The caller
// keeps ownership and keeps the object alive while it is installed. Host's thread only.
void SetFlashPlatform(IFlashPlatform* platform);
