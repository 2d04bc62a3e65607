// FlashHost: the Flash Player control in a child window of the host window, playing the loading
// movie and exchanging movie variables with the loader.
#pragma once

#include "Common/Array.h"
#include "Common/Types.h"
#include "Source/Common/String.h"
#include "Source/Platform/FlashControl.h"

class Vexal3DLoader_Flash;

// Created by the loader when its loading screen is chosen; mCreated tells whether the control
// window exists. Every update the host writes the progress and speed into the movie and reads
// back the variables the movie sets (launch parameters, trace messages, user data). All calls on
// the host's thread (also the thread of the control's window procedure). Not copyable.
class FlashHost {
public:
    // Creates the hosting window over the host window's client area (1 x 1 while that area is
    // empty, sized at the next PollMovie), hooks the control's window procedure, reads the player
    // version into the launch parameter "flashversion" and deletes the user-data file. Ends early
    // when the control gives no scripting interface (the user-data file then stays).
    explicit FlashHost(Vexal3DLoader_Flash* loader);
    // Restores the control's window procedure, releases the control, destroys the hosting window
    // and unregisters the hosting classes.
    ~FlashHost();

    FlashHost(const FlashHost&) = delete;
    FlashHost& operator=(const FlashHost&) = delete;

    // Reads the movie asset (embedded, else the file in the current directory; unpacked when
    // packed), writes it to "<current directory>/<name>", loads and plays it and primes the watched
    // variables with "null". False when the asset is missing, there is no control or the control
    // refuses the movie.
    bool LoadMovieAsset(const WideChar* name);
    // The control's SetVariable; nothing without a control.
    void SetMovieVariable(const WideChar* name, const WideChar* value);
    // Sizes the hosting window's client area and the movie's zoom rectangle; nothing when either
    // size is 0.
    void ResizeControl(int32_t width, int32_t height);
    // One update: a pending resize, the progress and speed into the movie, the watched variables
    // out of it.
    void PollMovie();

    // The window procedure installed on the control's own window: swallows right-button presses
    // and runs the control's procedure with its own user data in place.
    static intptr_t FlashWindowProc(FlashWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);

    // --- fields, in this order ---
    Vexal3DLoader_Flash* mLoader; // not owned
    FlashHostingModule mModule;
    IFlashPlayer* mFlash;   // one reference, or none
    FlashWindow* mAxWindow; // owned holder of the hosting window, or none
    bool mCreated;
    bool mResizePending;
    Array<String> mWatchedNames;
    String mLastTraceIndex;
    String mLastUserDataIndex;
    FlashWindowProcedure mOrigWndProc;
    intptr_t mOrigUserData;
};

// Appends the UTF-8 bytes of a text (at most 1023 bytes, cut before the first character that
// does not fit) to "<current directory>/flashdata.user", creating the file when missing. An empty
// text does nothing; a file that cannot be opened is skipped silently; a failed write is logged.
void AppendUserData(const WideChar* text);
// The user-data file's path.
String UserDataPath();
