// The Windows entry point. The version record is constant-initialised, so
// process attach has nothing of the library's own to do but decline thread
// notifications: creating and ending threads in the host then never runs
// code of this library.
#ifdef _WIN32
#include <windows.h>

#ifdef __MINGW32__
// Windows declines DisableThreadLibraryCalls for a DLL with static TLS, and
// MinGW's C runtime gives every DLL a TLS directory: its start-up code
// refers to the TLS initialiser below, and that reference is what links the
// runtime's TLS support in. The library has no thread-local data of its own
// (what the C++ runtime keeps per thread lives in its own DLL), so it
// answers the reference with "no initialiser", and the DLL has no TLS
// directory for the loader to keep thread notifications for.
extern "C" const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback = nullptr;
#endif

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
#endif
