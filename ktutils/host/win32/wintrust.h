#pragma once

// The published records, constants and entry point of the Windows trust
// service (wintrust), for platforms without <wintrust.h>. The Linux trust
// provider in host/wintrust implements the entry point.
#include "ktutils/host/win32/windows_types.h"

typedef struct WINTRUST_FILE_INFO_ {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    GUID* pgKnownSubject;
} WINTRUST_FILE_INFO, *PWINTRUST_FILE_INFO;

typedef struct _WINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    union {
        struct WINTRUST_FILE_INFO_* pFile;
        struct WINTRUST_CATALOG_INFO_* pCatalog;
        struct WINTRUST_BLOB_INFO_* pBlob;
        struct WINTRUST_SGNR_INFO_* pSgnr;
        struct WINTRUST_CERT_INFO_* pCert;
    };
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    // Later versions of the record end here; cbStruct says which one a
    // caller filled.
    DWORD dwUIContext;
    struct WINTRUST_SIGNATURE_SETTINGS_* pSignatureSettings;
} WINTRUST_DATA, *PWINTRUST_DATA;

#define WTD_UI_ALL 1
#define WTD_UI_NONE 2
#define WTD_UI_NOBAD 3
#define WTD_UI_NOGOOD 4

#define WTD_REVOKE_NONE 0x00000000
#define WTD_REVOKE_WHOLECHAIN 0x00000001

#define WTD_CHOICE_FILE 1
#define WTD_CHOICE_CATALOG 2
#define WTD_CHOICE_BLOB 3
#define WTD_CHOICE_SIGNER 4
#define WTD_CHOICE_CERT 5

#define WTD_STATEACTION_IGNORE 0x00000000
#define WTD_STATEACTION_VERIFY 0x00000001
#define WTD_STATEACTION_CLOSE 0x00000002

// {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
#define WINTRUST_ACTION_GENERIC_VERIFY_V2 \
    { 0xaac56b, 0xcd44, 0x11d0, { 0x8c, 0xc2, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee } }

// Results as the trust service returns them.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x) & 0x0000FFFF) | (7 << 16) | 0x80000000)))
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define TRUST_E_PROVIDER_UNKNOWN ((HRESULT)0x800B0001L)
#define TRUST_E_SUBJECT_FORM_UNKNOWN ((HRESULT)0x800B0003L)
#define TRUST_E_NOSIGNATURE ((HRESULT)0x800B0100L)
#define CERT_E_EXPIRED ((HRESULT)0x800B0101L)
#define CERT_E_UNTRUSTEDROOT ((HRESULT)0x800B0109L)
#define CERT_E_CHAINING ((HRESULT)0x800B010AL)
#define TRUST_E_FAIL ((HRESULT)0x800B010BL)
#define CERT_E_WRONG_USAGE ((HRESULT)0x800B0110L)
#define TRUST_E_CERT_SIGNATURE ((HRESULT)0x80096004L)
#define TRUST_E_BAD_DIGEST ((HRESULT)0x80096010L)

// Exported under its plain C name, the name callers look up.
extern "C" LONG WINAPI WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData);

// The Linux provider's own second entry, not Windows': WinVerifyTrust for one
// call that trusts exactly the roots `roots` names (a PEM file or a directory
// of them), whatever KTUTILS_TRUST_ROOTS says; null roots: as WinVerifyTrust.
// ktutils::VerifyFile looks it up by this name when its caller names roots.
extern "C" LONG WINAPI KtutilsVerifyTrustWithRoots(HWND hwnd, GUID* pgActionID, LPVOID pWVTData, LPCSTR roots);
