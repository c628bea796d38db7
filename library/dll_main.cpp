// The Windows entry point. The version record is constant-initialised, so
// process attach has nothing of the library's own to do but decline thread
// notifications: creating and ending threads in the host then never runs
// code of this library.
#ifdef _WIN32
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
#endif
