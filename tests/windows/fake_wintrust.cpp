// A trust service that records what it is asked and answers what the test
// says. It is built as "wintrust.dll" in a folder of its own, which the rule
// tests put on the DLL search path and Wine is told to prefer
// (WINEDLLOVERRIDES=wintrust=n), so the library loads it by name as it would
// the system's.
#include <cstddef>
#include <cstring>

// The system header declares the real function as imported; this DLL defines
// and exports its own.
#define WinVerifyTrust KtutilsSystemWinVerifyTrustDeclaration
#include "tests/windows/fake_wintrust.h"
#undef WinVerifyTrust

namespace {
FakeTrustCall g_last;
LONG g_answer = 0;
}  // namespace

extern "C" __declspec(dllexport) LONG WINAPI WinVerifyTrust(HWND window, GUID* action, LPVOID data) {
    FakeTrustCall seen;
    seen.calls = g_last.calls + 1;
    seen.windowIsNull = window == nullptr;
    if (action != nullptr) seen.action = *action;
    if (const auto* record = static_cast<const WINTRUST_DATA*>(data)) {
        std::memcpy(&seen.data, record, record->cbStruct < sizeof seen.data ? record->cbStruct : sizeof seen.data);
        if (record->dwUnionChoice == WTD_CHOICE_FILE && record->pFile != nullptr) {
            seen.fileGiven = true;
            seen.file = *record->pFile;
            if (record->pFile->pcwszFilePath != nullptr)
                for (std::size_t i = 0; i < MAX_PATH && record->pFile->pcwszFilePath[i] != 0; ++i)
                    seen.path[i] = record->pFile->pcwszFilePath[i];
        }
    }
    // The caller's pointers die with the call.
    seen.data.pFile = nullptr;
    seen.file.pcwszFilePath = nullptr;
    g_last = seen;
    return g_answer;
}

extern "C" __declspec(dllexport) void KtutilsFakeTrustAnswer(LONG status) { g_answer = status; }

extern "C" __declspec(dllexport) const FakeTrustCall* KtutilsFakeTrustLastCall() { return &g_last; }
