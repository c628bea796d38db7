// A DLL whose entry point counts the loader's calls by reason, then hands each to the C runtime's start-up
// (which calls DllMain): around the library's dll_main.cpp, or around a DllMain that keeps thread calls.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);
static volatile LONG g_calls[4];  // DLL_PROCESS_DETACH .. DLL_THREAD_DETACH

extern "C" BOOL WINAPI KtutilsProbeEntry(HANDLE module, DWORD reason, LPVOID reserved) {
    if (reason < 4) InterlockedIncrement(&g_calls[reason]);
    return DllMainCRTStartup(module, reason, reserved);
}
extern "C" __declspec(dllexport) LONG KtutilsProbeEntryCalls(DWORD reason) { return g_calls[reason & 3]; }
#ifdef KTUTILS_PROBE_KEEPS_THREAD_CALLS
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
