// The loader class the host gets.
#include "screens/Vexal3DLoader_Flash.h"

Vexal3DLoader_Flash::Vexal3DLoader_Flash(VexalWindow hostWindow, uint32_t runMode)
    : Vexal3DLoader(hostWindow, runMode), mGdiRenderer(_null), mFlashHost(_null)
{
}

Vexal3DLoader_Flash::~Vexal3DLoader_Flash()
{
    ReleaseLoadingScreen();
}

bool Vexal3DLoader_Flash::Message(const MessageRecord& record)
{
    return Vexal3DLoader::Message(record);
}

void Vexal3DLoader_Flash::Update(uint32_t elapsedMs)
{
    Vexal3DLoader::Update(elapsedMs);
}

void Vexal3DLoader_Flash::Render()
{
    Vexal3DLoader::Render();
}

void Vexal3DLoader_Flash::Setup(const WideChar* name, const WideChar* value)
{
    Vexal3DLoader::Setup(name, value);
}

void Vexal3DLoader_Flash::ReleaseLoadingScreen()
{
    mGdiRenderer = _null;
    mFlashHost = _null;
}
