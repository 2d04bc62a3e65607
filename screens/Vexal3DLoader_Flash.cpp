// The loader class the host gets: choosing, driving and releasing the loading screen.
#include "screens/Vexal3DLoader_Flash.h"

#include "Common/Array.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Common/Variable.h"
#include "Source/Script/IScriptManager.h"
#include "screens/FlashHost.h"
#include "screens/ScreenAsset.h"
#include "screens/ScreenTexts.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

constexpr uint32_t kWmSize = VEXAL_WM_SIZE;

} // namespace

Vexal3DLoader_Flash::Vexal3DLoader_Flash(VexalWindow hostWindow, uint32_t runMode)
    : Vexal3DLoader_Flash(hostWindow, runMode, true) {}

Vexal3DLoader_Flash::Vexal3DLoader_Flash(VexalWindow hostWindow, uint32_t runMode, bool runScreenScript)
    : Vexal3DLoader(hostWindow, runMode), mGdiRenderer(_null), mFlashHost(_null) {
    mFlashHost = new FlashHost(this);
    if (mFlashHost->mCreated) {
        if (!mFlashHost->LoadMovieAsset(ScreenText::kMovieOverride)) mFlashHost->LoadMovieAsset(ScreenText::kMovie);
        return;
    }
    delete mFlashHost;
    mFlashHost = _null;

    Vexal::IScriptManager* manager = Vexal::GetScriptManager();
    if (!manager) return;
    Vexal3DRenderer_GDI::RegisterGdiClass(manager);
    manager->Initialize();
    mGdiRenderer = new Vexal3DRenderer_GDI(this);
    // The loader owns its renderer: a script dropping _gdi must never get it deleted.
    manager->LockObject(mGdiRenderer);
    {
        Variable published(_null, Variable::kObject);
        published.SetObject(mGdiRenderer);
        manager->SetField(static_cast<Vexal::ScriptObject*>(_null), ScreenText::kGdiGlobal, published);
    }
    if (!runScreenScript) return;
    Buffer script;
    if (!ReadScreenAsset(ScreenText::kScript, script)) ReadScreenAsset(ScreenText::kScriptFallback, script);
    if (script.GetSize() != 0) {
        Variable ignored;
        manager->RunBuffer(&ignored, &script, 0);
    }
}

Vexal3DLoader_Flash::~Vexal3DLoader_Flash() { ReleaseLoadingScreen(); }

bool Vexal3DLoader_Flash::Message(const MessageRecord& record) {
    if (mState != LoaderStateHandedOver && record.mMessage == kWmSize && mFlashHost) {
        int32_t width = int16_t(uint32_t(record.mLParam) & 0xFFFF);
        int32_t height = int16_t((uint32_t(record.mLParam) >> 16) & 0xFFFF);
        // A negative size is as meaningless as an empty one; neither reaches the control.
        if (width > 0 && height > 0) mFlashHost->ResizeControl(width, height);
    }
    return Vexal3DLoader::Message(record);
}

void Vexal3DLoader_Flash::Update(uint32_t elapsedMs) {
    Vexal3DLoader::Update(elapsedMs);
    if (mState == LoaderStateHandedOver) return;
    if (mFlashHost) mFlashHost->PollMovie();
    else if (mGdiRenderer) mGdiRenderer->Animate(elapsedMs);
}

void Vexal3DLoader_Flash::Render() {
    if (mState == LoaderStateHandedOver) {
        Vexal3DLoader::Render();
        return;
    }
    if (!mFlashHost && mGdiRenderer) mGdiRenderer->Render();
}

void Vexal3DLoader_Flash::Setup(const WideChar* name, const WideChar* value) {
    if (CompareNoCase(name, ScreenText::kLoaderVar) == 0) {
        Array<String> pieces;
        Split(value, pieces, ScreenText::kLoaderVarDelimiters, ScreenText::kLoaderVarTrim);
        for (int32_t i = 1; i < pieces.GetCount() && mFlashHost; i += 2)
            mFlashHost->SetMovieVariable(pieces[i - 1], pieces[i]);
        return;
    }
    if (CompareNoCase(name, ScreenText::kServerData) == 0 && mFlashHost) {
        mFlashHost->SetMovieVariable(ScreenText::kMovieServerData, value);
        return;
    }
    Vexal3DLoader::Setup(name, value);
}

void Vexal3DLoader_Flash::ReleaseLoadingScreen() {
    if (mFlashHost) {
        delete mFlashHost;
        mFlashHost = _null;
    }
    if (mGdiRenderer) {
        delete mGdiRenderer;
        mGdiRenderer = _null;
        // The manager was made for this screen and goes with it.
        if (Vexal::IScriptManager* manager = Vexal::FindScriptManager()) {
            manager->Finalize();
            delete manager;
        }
    }
}
