#pragma once

#include <openssl/x509.h>

#include <ctime>
#include <optional>

#include "ktutils/host/win32/wintrust.h"
#include "ktutils/host/wintrust/trust_store.h"

namespace ktutils::detail {

// Checks that `signer` chains to a root of `roots` (NewTrustStore), with
// `untrusted` as the intermediates on offer, at time `at` (now when empty),
// and that the chain allows code signing: the signer's extended key usage
// names code signing (1.3.6.1.5.5.7.3.3), any CA's that limits use allows it,
// and a signer's key usage, if present, allows digital signatures.
// 0, or the status Windows gives: CERT_E_EXPIRED, CERT_E_UNTRUSTEDROOT,
// CERT_E_CHAINING, TRUST_E_CERT_SIGNATURE, CERT_E_WRONG_USAGE, TRUST_E_FAIL.
LONG VerifyCodeSigningChain(X509* signer, STACK_OF(X509) * untrusted, std::optional<std::time_t> at,
                            const TrustRoots& roots);

}  // namespace ktutils::detail
