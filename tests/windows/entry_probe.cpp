// A DLL whose entry point counts the loader's calls, by reason, before it
// hands each one on to the C runtime's DLL start-up, which calls DllMain.
// Built around the library's own entry point (library/dll_main.cpp), it shows
// which notifications the loader still delivers; built around a DllMain that
// keeps them (KTUTILS_PROBE_KEEPS_THREAD_CALLS), it shows that the count sees
// thread notifications when they are delivered.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

namespace {
volatile LONG g_calls[4];  // by reason: DLL_PROCESS_DETACH .. DLL_THREAD_DETACH
}  // namespace

extern "C" BOOL WINAPI KtutilsProbeEntry(HANDLE module, DWORD reason, LPVOID reserved) {
    if (reason < 4) InterlockedIncrement(&g_calls[reason]);
    return DllMainCRTStartup(module, reason, reserved);
}

extern "C" __declspec(dllexport) LONG KtutilsProbeEntryCalls(DWORD reason) {
    return reason < 4 ? g_calls[reason] : -1;
}

#ifdef KTUTILS_PROBE_KEEPS_THREAD_CALLS
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
