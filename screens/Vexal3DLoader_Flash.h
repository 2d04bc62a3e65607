// Vexal3DLoader_Flash: the loader class the host gets, the loader core plus its loading screen.
#pragma once

#include "loader/Loader.h"

class Vexal3DRenderer_GDI;
class FlashHost;

// The loading screen is chosen once, at construction: the Flash movie when the control's window
// can be created (a file "loader.swf" in the current directory, else the embedded "loading.swf"),
// otherwise the script-drawn screen (the embedded "loading-gdi.lua", else a file "loading.lua")
// in the one script manager of the process. Until the hand-off the class drives the screen from
// the host's update, render and size messages and routes "loadervar" and "serverdata" to the
// movie. At most one of the two screens exists; both are none after ReleaseLoadingScreen.
// Host's thread only.
class Vexal3DLoader_Flash : public Vexal3DLoader {
public:
    Vexal3DLoader_Flash(VexalWindow hostWindow, uint32_t runMode);
    // Releases the loading screen, then the loader core is destroyed.
    ~Vexal3DLoader_Flash() override;

    // Before the hand-off a WM_SIZE resizes the movie's control; then the core's handling.
    bool Message(const MessageRecord& record) override;
    // The core's step, then (before the hand-off) the movie's poll or the animation step.
    void Update(uint32_t elapsedMs) override;
    // After the hand-off the game module draws; before it the script-drawn screen draws a frame
    // (the movie's control paints itself).
    void Render() override;
    // "loadervar" (name|value|name|value...) goes to the movie only; "serverdata" goes to the
    // movie when there is one; everything else to the core. Names without regard to case.
    void Setup(const WideChar* name, const WideChar* value) override;
    // Deletes whichever screen exists and, with the script-drawn screen, finalises and deletes
    // the script manager. A second call finds nothing left.
    void ReleaseLoadingScreen() override;

    Vexal3DRenderer_GDI* GetGdiRenderer() const { return mGdiRenderer; }
    FlashHost* GetFlashHost() const { return mFlashHost; }

protected:
    // With runScreenScript false the script-drawn screen starts with _gdi published but no
    // script run, for a tool that runs a script of its own choosing in its place.
    Vexal3DLoader_Flash(VexalWindow hostWindow, uint32_t runMode, bool runScreenScript);

    Vexal3DRenderer_GDI* mGdiRenderer;
    FlashHost* mFlashHost;
};
