// Vexal3DLoader_Flash: the loader class the host gets, the loader core plus its loading screen.
#pragma once

#include "loader/Loader.h"

class Vexal3DRenderer_GDI;
class FlashHost;

// The loading screen is chosen once at construction and removed at the hand-off. Until the
// loading screens are built in, no screen is created: both screen fields stay none and
// ReleaseLoadingScreen has nothing to release. Host's thread only.
class Vexal3DLoader_Flash : public Vexal3DLoader {
public:
    Vexal3DLoader_Flash(VexalWindow hostWindow, uint32_t runMode);
    // Releases the loading screen, then the loader core is destroyed.
    ~Vexal3DLoader_Flash() override;

    bool Message(const MessageRecord& record) override;
    void Update(uint32_t elapsedMs) override;
    void Render() override;
    void Setup(const WideChar* name, const WideChar* value) override;
    // Deletes whichever screen exists and clears both fields; a second call finds nothing.
    void ReleaseLoadingScreen() override;

protected:
    Vexal3DRenderer_GDI* mGdiRenderer;
    FlashHost* mFlashHost;
};
