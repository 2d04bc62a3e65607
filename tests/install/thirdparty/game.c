/* A game module written outside the loader's tree: ready at once, says what it is called for. */
#include <stdio.h>
#include <Vexal3DLoader.h>

static int rendered;

VEXAL_API int _VobCreate(VexalWindow window, const PackageHeader* header, const char16_t* packageUrl,
                         const char16_t* configText, int32_t reserved)
{
    (void)window; (void)packageUrl; (void)configText; (void)reserved;
    char name[64];
    size_t i = 0;
    for (; i + 1 < sizeof(name) && header->name[i] != 0; ++i)
        name[i] = header->name[i] < 128 ? (char)header->name[i] : '?';
    name[i] = 0;
    printf("game: created from package \"%s\"\n", name);
    fflush(stdout);
    return 1;
}
VEXAL_API void _VobDelete(VexalWindow window) { (void)window; printf("game: deleted\n"); fflush(stdout); }
VEXAL_API int _VobUpdate(VexalWindow window, uint32_t elapsedMs) { (void)window; (void)elapsedMs; return 1; }
VEXAL_API void _VobRender(VexalWindow window)
{
    (void)window;
    if (!rendered++) {
        printf("game: has the window\n");
        fflush(stdout);
    }
}
VEXAL_API int _VobMessage(VexalWindow window, uint32_t message, uint32_t wParam, int32_t lParam)
{
    (void)window; (void)message; (void)wParam; (void)lParam;
    return 0;
}
VEXAL_API void _VobProgress(float* progress, int32_t* resCount, int32_t* finishCount, int32_t* resSize,
                            int32_t* finishSize)
{
    (void)resCount; (void)finishCount; (void)resSize; (void)finishSize;
    *progress = 1.0f;
}
