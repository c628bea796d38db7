// A trust service that records its last call and answers what the test says.
#include <cstring>

// The system header declares the real function as imported; this DLL exports its own.
#define WinVerifyTrust KtutilsSystemWinVerifyTrustDeclaration
#include "tests/windows/fake_wintrust.h"
#undef WinVerifyTrust

static FakeTrustCall g_last;
static LONG g_answer = 0;

extern "C" __declspec(dllexport) LONG WINAPI WinVerifyTrust(HWND window, GUID* action, LPVOID data) {
    const auto* record = static_cast<const WINTRUST_DATA*>(data);
    FakeTrustCall seen;
    seen.calls = g_last.calls + 1;
    seen.windowIsNull = window == nullptr;
    seen.action = *action;
    std::memcpy(&seen.data, record, record->cbStruct < sizeof seen.data ? record->cbStruct : sizeof seen.data);
    seen.file = *record->pFile;
    for (int i = 0; i < MAX_PATH && record->pFile->pcwszFilePath[i] != 0; ++i) seen.path[i] = seen.file.pcwszFilePath[i];
    seen.data.pFile = nullptr;  // the caller's pointers die with the call
    seen.file.pcwszFilePath = nullptr;
    g_last = seen;
    return g_answer;
}

extern "C" __declspec(dllexport) const FakeTrustCall* KtutilsFakeTrust(LONG nextAnswer) {
    g_answer = nextAnswer;
    return &g_last;
}
