#include "ktutils/library/detail/trust_service.h"

#include <cstddef>
#include <memory>
#include <new>

#include "ktutils/host/win32/proc_as.h"
#include "ktutils/host/win32/win32_api.h"

namespace ktutils::detail {
namespace {

using WinVerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using WithRootsFunction = LONG(WINAPI*)(HWND, GUID*, LPVOID, LPCSTR);

// The record in its original eleven-field form (cbStruct to dwProvFlags,
// 44 bytes on 32-bit Windows), which every version of the trust service
// reads; the fields added later stay unset and cbStruct says so. Checked on
// every target: the 32-bit Linux build lays the stand-in records out as
// 32-bit Windows does.
constexpr DWORD kTrustDataSize = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
constexpr bool kNarrowPointers = sizeof(void*) == 4;
static_assert(kTrustDataSize == (kNarrowPointers ? 44 : 76), "WINTRUST_DATA prefix: 44 bytes on 32-bit, 76 on 64-bit");
static_assert(sizeof(WINTRUST_FILE_INFO) == (kNarrowPointers ? 16 : 32), "WINTRUST_FILE_INFO: 16 bytes on 32-bit, 32 on 64-bit");
static_assert(TRUST_E_PROVIDER_UNKNOWN == static_cast<LONG>(kProviderUnknown), "the status the rule accepts");

constexpr int kWidePathCapacity = MAX_PATH;  // wide characters, terminator included

// Asks the loaded service. The library and the path buffer stay for the
// caller to release, in that order.
uint32_t Ask(HMODULE trust, std::unique_ptr<WCHAR[]>& widePath, const char* path, uint32_t uiChoice,
             const char* roots) {
    const auto winVerifyTrust =
        ktutils::detail::ProcAs<WinVerifyTrustFunction>(GetProcAddress(trust, "WinVerifyTrust"));
    if (winVerifyTrust == nullptr) return kEntryMissing;
    // Never judged by other roots than the caller named: a service that
    // cannot take them refuses.
    const auto withRoots = roots == nullptr ? nullptr
        : ktutils::detail::ProcAs<WithRootsFunction>(GetProcAddress(trust, "KtutilsVerifyTrustWithRoots"));
    if (roots != nullptr && withRoots == nullptr) return kRootsUnsupported;

    widePath.reset(new (std::nothrow) WCHAR[kWidePathCapacity]);
    if (widePath == nullptr) return kOutOfMemory;
    // A conversion that does not fit reports 0: the path would reach the trust
    // service cut short, naming some other file, so it is refused instead.
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath.get(), kWidePathCapacity) == 0)
        return path == nullptr ? kNoPath : kPathTooLong;

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
    const LONG status = roots == nullptr ? winVerifyTrust(nullptr, &action, &trustData)
                                         : withRoots(nullptr, &action, &trustData, roots);
    return static_cast<uint32_t>(status);
}

}  // namespace

uint32_t AskTrustService(const char* path, uint32_t uiChoice, const char* roots) {
    // Loaded for each call and released before returning: the library keeps
    // no state, and the trust service's own load count makes this cheap.
    HMODULE trust = LoadLibraryA("wintrust.dll");
    if (trust == nullptr) return kServiceMissing;
    std::unique_ptr<WCHAR[]> widePath;
    const uint32_t status = Ask(trust, widePath, path, uiChoice, roots);
    FreeLibrary(trust);
    widePath.reset();
    return status;
}

}  // namespace ktutils::detail
