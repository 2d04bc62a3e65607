// The smallest game module of the Windows library: created at once, ready at once, and takes
// the window. The package test runs a whole load with it.
#include <cstdint>

#include "Vexal3DLoader.h"

extern "C" {

__declspec(dllexport) int _VobCreate(VexalWindow, const PackageHeader*, const char16_t*, const char16_t*, int32_t) { return 1; }
__declspec(dllexport) void _VobDelete(VexalWindow) {}
__declspec(dllexport) int _VobUpdate(VexalWindow, uint32_t) { return 1; }
__declspec(dllexport) void _VobRender(VexalWindow) {}
__declspec(dllexport) int _VobMessage(VexalWindow, uint32_t, uint32_t, int32_t) { return 0; }
__declspec(dllexport) void _VobProgress(float* progress, int32_t*, int32_t*, int32_t*, int32_t*) {
    if (progress != nullptr) *progress = 1.0f;
}

} // extern "C"
