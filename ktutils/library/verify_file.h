#pragma once

#include <cstdint>
#include <string>

#include "ktutils/ktutils_export.h"
#include "ktutils/library/trust_status.h"

// A component's signature checked as VerifyServerComponent checks it, with
// the trust service's status and its reason in words, and the trusted roots
// chosen by the caller rather than by the environment.
//
//   ktutils::VerifyOptions options;
//   options.trustRoots = "/etc/myserver/roots.pem";
//   const ktutils::TrustVerdict verdict = ktutils::VerifyFile(path, options);
//   if (!verdict.trusted) log("%s refused: %s (%s)", path, verdict.Reason(), verdict.StatusName());
namespace ktutils {

// The trust service's dwUIChoice values: Windows' WTD_UI_ALL to
// WTD_UI_NOGOOD, which only Windows' <wintrust.h> defines. Also for
// VerifyServerComponent's second argument.
enum TrustUi : uint32_t { kTrustUiAll = 1, kTrustUiNone = 2, kTrustUiNoBad = 3, kTrustUiNoGood = 4 };

struct VerifyOptions {
    // Trust exactly the roots in this PEM file (or DER certificate), or in
    // every file of this directory, for this call and whatever
    // KTUTILS_TRUST_ROOTS says. Empty: the trust service's own choice (off
    // Windows that variable, else OpenSSL's default roots). A trust service that cannot be given roots
    // (Windows' own, or another provider than ktutils') refuses the file
    // with E_NOTIMPL rather than judge it by other roots.
    std::string trustRoots;
    // The trust service's dwUIChoice; the Linux provider never shows UI.
    uint32_t uiChoice = kTrustUiNone;
    // Count TRUST_E_PROVIDER_UNKNOWN as trusted, as VerifyServerComponent's
    // third argument does.
    bool acceptProviderUnknown = false;
};

struct TrustVerdict {
    bool trusted = false;
    // The trust service's status (0 for a trusted signature), or when the
    // service could not be asked: ERROR_MOD_NOT_FOUND (0x8007007E, it cannot
    // be loaded), ERROR_PROC_NOT_FOUND (0x8007007F, it has no
    // WinVerifyTrust), E_NOTIMPL (0x80004001, it cannot be given roots),
    // ERROR_FILENAME_EXCED_RANGE (0x800700CE, a path whose wide form needs
    // more than 260 characters), E_INVALIDARG (a null path) or E_OUTOFMEMORY,
    // each as HRESULT.
    uint32_t status = 0;

    // In words, e.g. "the file carries no signature, or one that cannot be read".
    const char* Reason() const { return TrustStatusReason(status); }
    // The status's constant, e.g. "TRUST_E_NOSIGNATURE".
    const char* StatusName() const { return TrustStatusName(status); }
};

// Asks the trust service about the file at `path` (in the system's narrow
// code page) with the same calls and records as VerifyServerComponent, and
// the same rule: trusted when the status is 0, or TRUST_E_PROVIDER_UNKNOWN
// and acceptProviderUnknown is set. Loads the service for the call and
// releases it before returning; keeps nothing.
KTUTILS_EXPORT TrustVerdict VerifyFile(const char* path, const VerifyOptions& options = {});

}  // namespace ktutils
