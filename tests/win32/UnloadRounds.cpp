// Three rounds of what a Windows host does with the library: load it, start a run whose package
// download is still in flight (the server accepts and never answers), update, delete the loader
// and unload the library; then an ordinary process exit. Run with a time limit: a deadlock at
// FreeLibrary or a hang at exit (code of the unloaded library still called) fails by time-out.
#include "support/TestSockets.h" // Windows Sockets before <windows.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "Vexal3DLoader.h"

namespace {

// A server that takes connections and never answers, so a transfer is always in flight.
struct SilentServer {
    int mListener = -1;
    int mPort = 0;

    bool Start() {
        mListener = OpenTestSocket();
        mPort = BindLoopback(mListener, 16);
        if (mPort == 0)
            return false;
        // Accepted connections stay open until the process ends.
        std::thread([this] {
            for (;;) {
                if (AcceptTestSocket(mListener) < 0)
                    return;
            }
        }).detach();
        return true;
    }
};

template <typename Function>
Function Export(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: test_unload_rounds LIBRARY\n");
        return 2;
    }
    SilentServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "no test server\n");
        return 1;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(server.mPort) + "/game.vpk";
    const std::u16string wideUrl(url.begin(), url.end());
    for (int round = 0; round < 3; ++round) {
        HMODULE library = LoadLibraryA(argv[1]);
        if (library == nullptr) {
            std::fprintf(stderr, "round %d: the library does not load (%lu)\n", round, GetLastError());
            return 1;
        }
        auto create = Export<VexalCreateFunction>(library, "_VexalCreate");
        auto destroy = Export<VexalDeleteFunction>(library, "_VexalDelete");
        auto setup = Export<VexalSetupFunction>(library, "_VexalSetup");
        auto update = Export<VexalUpdateFunction>(library, "_VexalUpdate");
        auto render = Export<VexalRenderFunction>(library, "_VexalRender");
        auto progress = Export<VexalProgressFunction>(library, "_VexalProgress");
        if (!create || !destroy || !setup || !update || !render || !progress) {
            std::fprintf(stderr, "round %d: an export is missing\n", round);
            return 1;
        }
        if (create(0, nullptr, nullptr, nullptr, 0) != 1)
            return 1;
        setup(u"voaurl", wideUrl.c_str());
        for (int frame = 0; frame < 20; ++frame) {
            update(nullptr, 16);
            render();
            Sleep(10);
        }
        const float reached = progress();
        destroy(0);
        FreeLibrary(library);
        std::printf("round %d: progress %.2f, unloaded\n", round, reached);
        std::fflush(stdout);
    }
    std::printf("three rounds ended\n");
    return 0;
}
