/* A host written outside the loader's tree: headless, it loads the installed loader library,
 * points it at a package and runs it until the game module has the window, then deletes it.
 * usage: host PACKAGE-URL (the library path comes from the build: LOADER_LIBRARY) */
#define _DEFAULT_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <Vexal3DLoader.h>

static uint32_t Milliseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    void* library = dlopen(LOADER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "host: %s\n", dlerror());
        return 1;
    }
    VexalCreateFunction create = (VexalCreateFunction)dlsym(library, "_VexalCreate");
    VexalSetupFunction setup = (VexalSetupFunction)dlsym(library, "_VexalSetup");
    VexalUpdateFunction update = (VexalUpdateFunction)dlsym(library, "_VexalUpdate");
    VexalRenderFunction render = (VexalRenderFunction)dlsym(library, "_VexalRender");
    VexalProgressFunction progress = (VexalProgressFunction)dlsym(library, "_VexalProgress");
    VexalDeleteFunction destroy = (VexalDeleteFunction)dlsym(library, "_VexalDelete");
    VexalStartFunction start = (VexalStartFunction)dlsym(library, "_VexalStart");
    if (!create || !setup || !start || !update || !render || !progress || !destroy)
        return 1;

    char16_t url[1024];
    size_t length = strlen(argv[1]);
    if (length >= 1024)
        return 2;
    for (size_t i = 0; i <= length; ++i)
        url[i] = (unsigned char)argv[1][i];

    create(0, NULL, NULL, NULL, 0);
    setup(u"voaurl", url);
    start();
    uint32_t begin = Milliseconds(), last = begin, readyAt = 0;
    while (Milliseconds() - begin < 60000) {
        uint32_t now = Milliseconds();
        update(NULL, now - last);
        last = now;
        render();
        if (readyAt == 0 && progress() >= 1.0f) {
            readyAt = now;
            printf("host: progress 1\n");
            fflush(stdout);
        }
        if (readyAt != 0 && now - readyAt > 300)
            break;
        usleep(10000);
    }
    destroy(0);
    dlclose(library);
    return readyAt != 0 ? 0 : 1;
}
