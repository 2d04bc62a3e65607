// What the library's entry point tells the rest of the Windows platform layer about unloading.
#pragma once

#include "Source/Platform/NativeThread.h"

// Set by DllMain when the library is detached: kNativeFreeEndedOnly for FreeLibrary,
// kNativeTouchNothing when the process is ending.
void SetNativeWaitPolicy(NativeWaitPolicy policy);
