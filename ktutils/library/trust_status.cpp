#include "ktutils/library/trust_status.h"

namespace ktutils {
namespace {

struct TrustStatus {
    uint32_t status;
    const char* name;
    const char* reason;
};

// HRESULT_FROM_WIN32 of a Windows error code.
constexpr uint32_t FromWin32(uint32_t code) { return 0x80070000u | code; }

constexpr TrustStatus kStatuses[] = {
    {0, "ERROR_SUCCESS", "the signature is trusted"},
    // What the Linux provider gives (docs/signature.md), and Windows alike.
    {0x800B0001, "TRUST_E_PROVIDER_UNKNOWN", "the trust service does not know the verification asked for"},
    {0x800B0003, "TRUST_E_SUBJECT_FORM_UNKNOWN", "the file is not a program image the trust service can judge"},
    {0x800B0100, "TRUST_E_NOSIGNATURE", "the file carries no signature, or one that cannot be read"},
    {0x80096010, "TRUST_E_BAD_DIGEST", "the file was changed after it was signed, or the signature does not match"},
    {0x80090008, "NTE_BAD_ALGID", "the signature uses a hash algorithm that is not accepted"},
    {0x80096005, "TRUST_E_TIME_STAMP", "the signature's timestamp does not hold"},
    {0x800B0101, "CERT_E_EXPIRED", "a certificate of the signature has expired or is not yet valid"},
    {0x800B0109, "CERT_E_UNTRUSTEDROOT", "the signature chains to a root that is not trusted"},
    {0x800B010A, "CERT_E_CHAINING", "the signer's certificate chain cannot be built to a trusted root"},
    {0x80096004, "TRUST_E_CERT_SIGNATURE", "a certificate's signature in the chain does not verify"},
    {0x800B0110, "CERT_E_WRONG_USAGE", "a certificate of the chain is not valid for code signing"},
    {0x800B010B, "TRUST_E_FAIL", "the signature could not be verified"},
    {0x80070057, "E_INVALIDARG", "the trust service was asked with invalid arguments"},
    {0x8007000E, "E_OUTOFMEMORY", "memory ran out"},
    {FromWin32(2), "ERROR_FILE_NOT_FOUND", "the file cannot be found or read"},
    // Only Windows gives these.
    {FromWin32(3), "ERROR_PATH_NOT_FOUND", "the file's folder cannot be found"},
    {FromWin32(5), "ERROR_ACCESS_DENIED", "the file cannot be read: access is denied"},
    {0x800B0002, "TRUST_E_ACTION_UNKNOWN", "the trust service does not know the verification asked for"},
    {0x800B0004, "TRUST_E_SUBJECT_NOT_TRUSTED", "the signature is not trusted"},
    {0x800B0111, "TRUST_E_EXPLICIT_DISTRUST", "the signature is marked as not trusted"},
    {0x800B010C, "CERT_E_REVOKED", "a certificate of the signature has been revoked"},
    {0x800B010E, "CERT_E_REVOCATION_FAILURE", "whether a certificate was revoked cannot be checked"},
    {0x80092010, "CRYPT_E_REVOKED", "a certificate of the signature has been revoked"},
    {0x800B0102, "CERT_E_VALIDITYPERIODNESTING", "a certificate is valid outside its issuer's period"},
    {0x800B0105, "CERT_E_CRITICAL", "a certificate has a critical extension that is not understood"},
    {0x800B0106, "CERT_E_PURPOSE", "a certificate is not valid for its purpose"},
    {0x800B0108, "CERT_E_MALFORMED", "a certificate is malformed"},
    {0x800B0112, "CERT_E_UNTRUSTEDCA", "the signature chains to a certificate authority that is not trusted"},
    {0x80096001, "TRUST_E_SYSTEM_ERROR", "the trust service failed"},
    {0x80096002, "TRUST_E_NO_SIGNER_CERT", "the signer's certificate is missing"},
    {0x80096003, "TRUST_E_COUNTER_SIGNER", "the signature's countersigner is not valid"},
    {0x80096019, "TRUST_E_BASIC_CONSTRAINTS", "a certificate's basic constraints do not hold"},
    {0x80092003, "CRYPT_E_FILE_ERROR", "the file cannot be read"},
    {0x80092026, "CRYPT_E_SECURITY_SETTINGS", "the system's security settings do not allow the check"},
    // What ktutils::VerifyFile gives when the trust service cannot be asked.
    {FromWin32(0x7E), "ERROR_MOD_NOT_FOUND", "the trust service cannot be loaded"},
    {FromWin32(0x7F), "ERROR_PROC_NOT_FOUND", "the trust service has no WinVerifyTrust"},
    {FromWin32(0xCE), "ERROR_FILENAME_EXCED_RANGE", "the path is longer than the trust service takes"},
    {0x80004001, "E_NOTIMPL", "this trust service cannot be given trust roots"},
};

const TrustStatus* Find(uint32_t status) {
    for (const TrustStatus& known : kStatuses) {
        if (known.status == status) return &known;
    }
    return nullptr;
}

}  // namespace

const char* TrustStatusName(uint32_t status) {
    const TrustStatus* known = Find(status);
    return known != nullptr ? known->name : "UNKNOWN_STATUS";
}

const char* TrustStatusReason(uint32_t status) {
    const TrustStatus* known = Find(status);
    return known != nullptr ? known->reason : "the trust service gave a status without a known meaning";
}

}  // namespace ktutils
