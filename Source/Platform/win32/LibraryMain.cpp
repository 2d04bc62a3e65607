// The library's entry point on Windows. The library's own attach and detach work runs as static
// constructors and destructors from the C runtime's part of this entry, under the system's loader
// lock; this part makes that safe: nothing waits for a thread then, libcrypto registers no
// clean-up with the process (it would run after the library is gone) but is cleaned up here, and
// at process exit nothing is freed at all.
// libcurl's header brings Windows Sockets, which must come before <windows.h>.
#include <curl/curl.h>
#include <openssl/crypto.h>
#include <windows.h>

#include "Source/Platform/win32/LibraryState.h"

namespace {

// Made before every other static object of the library and destroyed after all of them, so the
// TLS libraries are set up first and cleaned up last.
struct TlsLibraries {
    TlsLibraries() { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, _null); }
    ~TlsLibraries() {
        if (CurrentNativeWaitPolicy() == kNativeTouchNothing)
            return;
        curl_global_cleanup();
        OPENSSL_cleanup();
    }
};

__attribute__((init_priority(101))) TlsLibraries gTlsLibraries;

} // namespace

// Runs before the C runtime's detach work (the static destructors), so they see the policy.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH)
        SetNativeWaitPolicy(kNativeWaitAllowed);
    else if (reason == DLL_PROCESS_DETACH)
        SetNativeWaitPolicy(reserved != _null ? kNativeTouchNothing : kNativeFreeEndedOnly);
    return TRUE;
}
