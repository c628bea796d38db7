#include "ktutils/library/verify_server_component.h"

#include <cstddef>
#include <memory>
#include <new>

#include "ktutils/host/win32/proc_as.h"
#include "ktutils/host/win32/win32_api.h"

namespace {

using WinVerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, LPVOID);

// The record in its original eleven-field form (cbStruct to dwProvFlags,
// 44 bytes on 32-bit Windows), which every version of the trust service
// reads; the fields added later stay unset and cbStruct says so. Checked on
// every target: the 32-bit Linux build lays the stand-in records out as
// 32-bit Windows does.
constexpr DWORD kTrustDataSize = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
constexpr bool kNarrowPointers = sizeof(void*) == 4;
static_assert(kTrustDataSize == (kNarrowPointers ? 44 : 76), "WINTRUST_DATA prefix: 44 bytes on 32-bit, 76 on 64-bit");
static_assert(sizeof(WINTRUST_FILE_INFO) == (kNarrowPointers ? 16 : 32), "WINTRUST_FILE_INFO: 16 bytes on 32-bit, 32 on 64-bit");

constexpr int kWidePathCapacity = MAX_PATH;  // wide characters, terminator included

int Decide(LONG status, int acceptProviderUnknown) {
    if (status == 0) return 1;
    if (status == TRUST_E_PROVIDER_UNKNOWN && acceptProviderUnknown != 0) return 1;
    return 0;
}

}  // namespace

int VerifyServerComponent(char* path, uint32_t uiChoice, int acceptProviderUnknown) {
    // Loaded for each call and released before returning: the library keeps
    // no state, and the trust service's own load count makes this cheap.
    HMODULE trust = LoadLibraryA("wintrust.dll");
    if (trust == nullptr) return 0;
    const auto winVerifyTrust =
        ktutils::detail::ProcAs<WinVerifyTrustFunction>(GetProcAddress(trust, "WinVerifyTrust"));
    if (winVerifyTrust == nullptr) {
        FreeLibrary(trust);
        return 0;
    }

    std::unique_ptr<WCHAR[]> widePath(new (std::nothrow) WCHAR[kWidePathCapacity]);
    // A conversion that does not fit reports 0: the path would reach the trust
    // service cut short, naming some other file, so it is refused instead.
    if (widePath == nullptr ||
        MultiByteToWideChar(CP_ACP, 0, path, -1, widePath.get(), kWidePathCapacity) == 0) {
        FreeLibrary(trust);
        return 0;
    }

    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(WINTRUST_FILE_INFO);
    fileInfo.pcwszFilePath = widePath.get();
    fileInfo.hFile = nullptr;
    fileInfo.pgKnownSubject = nullptr;

    WINTRUST_DATA trustData{};
    trustData.cbStruct = kTrustDataSize;
    trustData.pPolicyCallbackData = nullptr;
    trustData.pSIPClientData = nullptr;
    trustData.dwUIChoice = uiChoice;
    trustData.fdwRevocationChecks = WTD_REVOKE_NONE;
    trustData.dwUnionChoice = WTD_CHOICE_FILE;
    trustData.pFile = &fileInfo;
    trustData.dwStateAction = WTD_STATEACTION_IGNORE;
    trustData.hWVTStateData = nullptr;
    trustData.pwszURLReference = nullptr;
    trustData.dwProvFlags = 0;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = winVerifyTrust(nullptr, &action, &trustData);

    FreeLibrary(trust);
    widePath.reset();
    return Decide(status, acceptProviderUnknown);
}
