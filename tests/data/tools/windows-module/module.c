#include <windows.h>
__declspec(dllimport) int HelperValue(void);
BOOL WINAPI DllMain(HINSTANCE a, DWORD b, LPVOID c) { (void)a; (void)b; (void)c; return TRUE; }
int _VobCreate(void) { return HelperValue() + (int)GetTickCount(); }
int _VobDelete(void) { return 0; }
int _VobUpdate(void) { return 0; }
int _VobRender(void) { return 0; }
int _VobMessage(void) { return 0; }
int _VobProgress(void) { return 0; }
