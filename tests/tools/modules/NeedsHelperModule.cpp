// A game module that needs a library of its own, found through RUNPATH $ORIGIN: the package tool
// must find it among the package's files, or say it is missing.
#include "Vexal3DLoader.h"

extern "C" int VexalPackHelperValue(void);

extern "C" {

VEXAL_API int _VobCreate(VexalWindow, const PackageHeader*, const char16_t*, const char16_t*, int32_t) {
    return VexalPackHelperValue();
}
VEXAL_API void _VobDelete(VexalWindow) {}
VEXAL_API int _VobUpdate(VexalWindow, uint32_t) { return 1; }
VEXAL_API void _VobRender(VexalWindow) {}
VEXAL_API int _VobMessage(VexalWindow, uint32_t, uint32_t, int32_t) { return 0; }
VEXAL_API void _VobProgress(float* progress, int32_t*, int32_t*, int32_t*, int32_t*) { *progress = 1.0f; }

} // extern "C"
