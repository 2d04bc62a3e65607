// A stand-in for the loader library, for testing the host program: it records every export call
// as one line in the file named by VEXAL_TEST_RECORD and, when VEXAL_TEST_MODULE names a game
// module, drives that module the way the loader does after its files are in place (create at
// once, update until ready, then relay render and messages).
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Vexal3DLoader.h"

namespace {

struct Module {
    void* mLibrary = nullptr;
    VobCreateFunction mCreate = nullptr;
    VobDeleteFunction mDelete = nullptr;
    VobUpdateFunction mUpdate = nullptr;
    VobRenderFunction mRender = nullptr;
    VobMessageFunction mMessage = nullptr;
    VobProgressFunction mProgress = nullptr;
};

VexalWindow gWindow = 0;
Module gModule;
bool gHandedOver = false;
float gProgress = 0.0f;
PackageHeader gHeader = {};

std::string Narrow(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        if (*text < 0x80) out.push_back(char(*text));
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04x", unsigned(*text));
            out += hex;
        }
    }
    return out;
}

void Record(const std::string& line) {
    const char* path = getenv("VEXAL_TEST_RECORD");
    if (path == nullptr) return;
    if (FILE* file = fopen(path, "a")) {
        fprintf(file, "%s\n", line.c_str());
        fclose(file);
    }
}

} // namespace

extern "C" {

VEXAL_API int _VexalCreate(VexalWindow window, void*, void*, void*, uint32_t runMode) {
    gWindow = window;
    Record("create " + std::string(window ? "window" : "null") + " " + std::to_string(runMode));
    const char* path = getenv("VEXAL_TEST_MODULE");
    if (path != nullptr && *path != 0 && (gModule.mLibrary = dlopen(path, RTLD_NOW | RTLD_LOCAL)) != nullptr) {
        gModule.mCreate = VobCreateFunction(dlsym(gModule.mLibrary, "_VobCreate"));
        gModule.mDelete = VobDeleteFunction(dlsym(gModule.mLibrary, "_VobDelete"));
        gModule.mUpdate = VobUpdateFunction(dlsym(gModule.mLibrary, "_VobUpdate"));
        gModule.mRender = VobRenderFunction(dlsym(gModule.mLibrary, "_VobRender"));
        gModule.mMessage = VobMessageFunction(dlsym(gModule.mLibrary, "_VobMessage"));
        gModule.mProgress = VobProgressFunction(dlsym(gModule.mLibrary, "_VobProgress"));
        gHeader.magic = VEXAL_PACKAGE_MAGIC;
        gHeader.version = 2;
        gModule.mCreate(window, &gHeader, u"http://127.0.0.1/demo.vpk", u"a|1|b|2", 0);
    }
    return 1;
}

VEXAL_API int _VexalDelete(VexalWindow window) {
    Record(std::string("delete ") + (window == gWindow ? "same" : "other"));
    if (gModule.mLibrary != nullptr) {
        gModule.mDelete(gWindow);
        dlclose(gModule.mLibrary);
        gModule = Module();
    }
    return 1;
}

VEXAL_API void _VexalSetup(const char16_t* name, const char16_t* value) {
    Record("setup " + Narrow(name) + "=" + Narrow(value));
}

VEXAL_API void _VexalStart(void) { Record("start"); }

VEXAL_API int _VexalUpdate(void*, uint32_t elapsedMs) {
    Record("update " + std::to_string(elapsedMs));
    if (gModule.mLibrary != nullptr) {
        int ready = gModule.mUpdate(gWindow, elapsedMs);
        if (!gHandedOver) {
            float value = 0.0f;
            int32_t counts[4] = {};
            gModule.mProgress(&value, &counts[0], &counts[1], &counts[2], &counts[3]);
            gProgress = 0.4f + 0.6f * value;
            gHandedOver = ready != 0;
        }
    }
    return 1;
}

VEXAL_API void _VexalRender(void) {
    Record("render");
    if (gHandedOver) gModule.mRender(gWindow);
}

VEXAL_API int _VexalMessage(void*, uint32_t message, uint32_t wParam, int32_t lParam) {
    Record("message " + std::to_string(message) + " " + std::to_string(wParam) + " " + std::to_string(lParam));
    return gHandedOver ? (gModule.mMessage(gWindow, message, wParam, lParam) != 0) : 0;
}

VEXAL_API float _VexalProgress(void) { return gProgress; }

} // extern "C"
