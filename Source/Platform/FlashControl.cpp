// Which Flash control services the loading screen uses: the platform's own, or a double.
#include "Source/Platform/FlashControl.h"

namespace {

IFlashPlatform* gInstalled = _null;

} // namespace

IFlashPlatform* GetFlashPlatform() { return gInstalled ? gInstalled : OwnFlashPlatform(); }

void SetFlashPlatform(IFlashPlatform* platform) { gInstalled = platform; }
