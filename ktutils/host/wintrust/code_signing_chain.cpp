#include "ktutils/host/wintrust/code_signing_chain.h"

#include <openssl/x509v3.h>

#include "ktutils/host/wintrust/openssl_ptr.h"
#include "ktutils/host/wintrust/trust_store.h"

namespace ktutils::detail {
namespace {

LONG StatusForChainError(int error) {
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return CERT_E_EXPIRED;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED:
            return CERT_E_UNTRUSTEDROOT;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return CERT_E_CHAINING;
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
            return TRUST_E_CERT_SIGNATURE;
        default:
            return TRUST_E_FAIL;
    }
}

bool AllowsCodeSigning(X509* cert, bool isSigner) {
    const bool limited = (X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) != 0;
    const std::uint32_t usage = X509_get_extended_key_usage(cert);
    // A signer must name code signing itself; a CA without the extension
    // passes its issuer's purposes on, and "any" allows this one too.
    if (isSigner) return limited && (usage & XKU_CODE_SIGN) != 0;
    return !limited || (usage & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0;
}

bool AllowsDigitalSignature(X509* cert) {
    return (X509_get_extension_flags(cert) & EXFLAG_KUSAGE) == 0 ||
           (X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE) != 0;
}

}  // namespace

LONG VerifyCodeSigningChain(X509* signer, STACK_OF(X509) * untrusted, std::optional<std::time_t> at,
                            const TrustRoots& roots) {
    X509StorePtr store = NewTrustStore(roots);
    X509StoreContextPtr context(X509_STORE_CTX_new());
    if (store == nullptr || context == nullptr || signer == nullptr ||
        X509_STORE_CTX_init(context.get(), store.get(), signer, untrusted) != 1)
        return TRUST_E_FAIL;
    if (at.has_value()) X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), *at);
    if (X509_verify_cert(context.get()) != 1) return StatusForChainError(X509_STORE_CTX_get_error(context.get()));

    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        if (!AllowsCodeSigning(sk_X509_value(chain, i), i == 0)) return CERT_E_WRONG_USAGE;
    }
    if (!AllowsDigitalSignature(signer)) return CERT_E_WRONG_USAGE;
    return ERROR_SUCCESS;
}

}  // namespace ktutils::detail
