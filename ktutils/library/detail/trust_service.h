#pragma once

#include <cstdint>

namespace ktutils::detail {

// Statuses for a trust service that cannot be asked, as Windows words them
// (HRESULT_FROM_WIN32 of its error codes where there is one).
constexpr uint32_t kServiceMissing = 0x8007007E;      // ERROR_MOD_NOT_FOUND
constexpr uint32_t kEntryMissing = 0x8007007F;        // ERROR_PROC_NOT_FOUND
constexpr uint32_t kRootsUnsupported = 0x80004001;    // E_NOTIMPL
constexpr uint32_t kPathTooLong = 0x800700CE;         // ERROR_FILENAME_EXCED_RANGE
constexpr uint32_t kNoPath = 0x80070057;              // E_INVALIDARG
constexpr uint32_t kOutOfMemory = 0x8007000E;         // E_OUTOFMEMORY
constexpr uint32_t kProviderUnknown = 0x800B0001;     // TRUST_E_PROVIDER_UNKNOWN

// The trust service's status for the file at `path`: loads "wintrust.dll",
// looks up WinVerifyTrust, converts the path into a MAX_PATH wide buffer,
// asks for the generic verification of the file and releases the library,
// in that order. With `roots` (not null) it asks through the Linux
// provider's KtutilsVerifyTrustWithRoots instead, which is looked up after
// WinVerifyTrust; a service without it gives kRootsUnsupported. When the
// service cannot be asked, one of the statuses above.
uint32_t AskTrustService(const char* path, uint32_t uiChoice, const char* roots);

// The verdict on a status: 0 is trusted, and so is TRUST_E_PROVIDER_UNKNOWN
// when the caller accepts it.
constexpr bool Trusted(uint32_t status, bool acceptProviderUnknown) {
    return status == 0 || (status == kProviderUnknown && acceptProviderUnknown);
}

}  // namespace ktutils::detail
