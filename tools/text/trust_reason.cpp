#include "tools/text/trust_reason.h"

namespace ktutils::tool {

TrustReason DescribeTrustStatus(int32_t status) {
    struct Entry {
        uint32_t status;
        TrustReason text;
    };
    // Success, the trust provider's statuses (docs/signature.md), and
    // ERROR_MOD_NOT_FOUND, the tool's own when there is no provider to ask.
    static const Entry kEntries[] = {
        {0x00000000, {"ERROR_SUCCESS", "the signature is trusted"}},
        {0x800B0001, {"TRUST_E_PROVIDER_UNKNOWN", "the trust service does not know this check"}},
        {0x800B0003, {"TRUST_E_SUBJECT_FORM_UNKNOWN", "the file is not a PE image"}},
        {0x800B0100, {"TRUST_E_NOSIGNATURE", "the file is not signed"}},
        {0x80096010, {"TRUST_E_BAD_DIGEST", "the file was changed after it was signed"}},
        {0x80090008, {"NTE_BAD_ALGID", "the signature's hash algorithm is not accepted"}},
        {0x80096005, {"TRUST_E_TIME_STAMP", "the signature's timestamp does not hold"}},
        {0x800B0101, {"CERT_E_EXPIRED", "a certificate of the signature has expired or is not yet valid"}},
        {0x800B0109, {"CERT_E_UNTRUSTEDROOT", "the signature leads to a root that is not trusted"}},
        {0x800B010A, {"CERT_E_CHAINING", "no issuer was found for a certificate of the signature"}},
        {0x80096004, {"TRUST_E_CERT_SIGNATURE", "a certificate's own signature does not verify"}},
        {0x800B0110, {"CERT_E_WRONG_USAGE", "the signer's certificate is not for code signing"}},
        {0x800B010B, {"TRUST_E_FAIL", "the signature could not be verified"}},
        {0x80070057, {"E_INVALIDARG", "the trust service refused the request"}},
        {0x8007000E, {"E_OUTOFMEMORY", "memory ran out"}},
        {0x80070002, {"ERROR_FILE_NOT_FOUND", "the file cannot be read"}},
        {0x8007007E, {"ERROR_MOD_NOT_FOUND", "the trust service cannot be loaded"}},
    };
    for (const Entry& entry : kEntries) {
        if (entry.status == static_cast<uint32_t>(status)) return entry.text;
    }
    return {"UNKNOWN_STATUS", "the trust service gave a status without a known meaning"};
}

}  // namespace ktutils::tool
