#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE a, DWORD b, LPVOID c) { (void)a; (void)b; (void)c; return TRUE; }
__declspec(dllexport) int HelperValue(void) { return 1; }
