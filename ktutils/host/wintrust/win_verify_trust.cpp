// The trust provider's entry point: WinVerifyTrust with the Windows calling
// shape, for the generic verification action on a file.
#include <openssl/err.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "ktutils/host/win32/wintrust.h"
#include "ktutils/host/wintrust/authenticode.h"
#include "ktutils/host/wintrust/file_bytes.h"
#include "ktutils/host/wintrust/wide_path.h"
#include "wintrust_export.h"

namespace {

// The smallest records a caller may hand over: WINTRUST_DATA up to
// dwProvFlags, its original form, and WINTRUST_FILE_INFO up to the path.
constexpr DWORD kSmallestTrustData = offsetof(WINTRUST_DATA, dwProvFlags) + sizeof(DWORD);
constexpr DWORD kSmallestFileInfo = offsetof(WINTRUST_FILE_INFO, pcwszFilePath) + sizeof(LPCWSTR);

bool IsGenericVerify(const GUID& action) {
    const GUID generic = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return action.Data1 == generic.Data1 && action.Data2 == generic.Data2 && action.Data3 == generic.Data3 &&
           std::memcmp(action.Data4, generic.Data4, sizeof generic.Data4) == 0;
}

LONG VerifyFile(const WINTRUST_DATA& data, const ktutils::detail::VerifyPolicy& policy) {
    const LONG notFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const auto path = ktutils::detail::WidePathToUtf8(data.pFile->pcwszFilePath);
    if (!path) return notFound;
    const auto bytes = ktutils::detail::ReadFileBytes(*path);
    if (!bytes) return notFound;
    return ktutils::detail::VerifyAuthenticodeImage(bytes->data(), bytes->size(), policy);
}

// hwnd and dwUIChoice are accepted and unused: this provider never shows UI.
// The file is opened by its path; hFile is not used. No state is kept between
// calls, so WTD_STATEACTION_CLOSE has nothing to release.
LONG Verify(GUID* pgActionID, LPVOID pWVTData, LPCSTR roots) {
    if (pgActionID == nullptr || !IsGenericVerify(*pgActionID)) return TRUST_E_PROVIDER_UNKNOWN;
    const auto* data = static_cast<const WINTRUST_DATA*>(pWVTData);
    if (data == nullptr || data->cbStruct < kSmallestTrustData) return E_INVALIDARG;
    if (data->dwStateAction == WTD_STATEACTION_CLOSE) return ERROR_SUCCESS;
    if (data->dwStateAction != WTD_STATEACTION_IGNORE && data->dwStateAction != WTD_STATEACTION_VERIFY)
        return E_INVALIDARG;
    if (data->dwUnionChoice != WTD_CHOICE_FILE || data->pFile == nullptr ||
        data->pFile->cbStruct < kSmallestFileInfo)
        return E_INVALIDARG;

    LONG status = TRUST_E_FAIL;
    try {
        ktutils::detail::VerifyPolicy policy = ktutils::detail::PolicyFromEnvironment();
        if (roots != nullptr) policy.trustRoots = roots;
        status = VerifyFile(*data, policy);
    } catch (const std::bad_alloc&) {
        status = E_OUTOFMEMORY;
    } catch (...) {
        status = TRUST_E_FAIL;
    }
    // OpenSSL's reasons stay here: the caller's thread gets a clean queue.
    ERR_clear_error();
    return status;
}

}  // namespace

extern "C" WINTRUST_EXPORT LONG WINAPI WinVerifyTrust(HWND /*hwnd*/, GUID* pgActionID, LPVOID pWVTData) {
    return Verify(pgActionID, pWVTData, nullptr);
}

// The roots come with the call rather than through a setting kept between
// calls, so concurrent verifications with different roots cannot meet.
extern "C" WINTRUST_EXPORT LONG WINAPI KtutilsVerifyTrustWithRoots(HWND /*hwnd*/, GUID* pgActionID, LPVOID pWVTData,
                                                                   LPCSTR roots) {
    return Verify(pgActionID, pWVTData, roots);
}
