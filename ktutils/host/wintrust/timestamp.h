#pragma once

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <ctime>
#include <optional>

#include "ktutils/host/win32/wintrust.h"
#include "ktutils/host/wintrust/trust_store.h"

namespace ktutils::detail {

// When the signer signed, as its countersignature vouches.
struct SigningTime {
    LONG status = 0;                // 0, or TRUST_E_TIME_STAMP
    std::optional<std::time_t> at;  // the stamped time; empty without a countersignature
};

// Judges the signer's countersignature, which is either an RFC 3161 token
// (unsigned attribute 1.3.6.1.4.1.311.3.3.1) whose imprint is the hash of the
// signer's signature value, or a PKCS #9 countersignature (1.2.840.113549.1.9.6)
// whose messageDigest is that hash, signed by a certificate among
// `certificates` and carrying a signingTime. Either must be signed by a
// time-stamping authority that chains, for time stamping, to a root of `roots`.
// None at all is fine (status 0, no time). One that does not hold, or more
// than one, is TRUST_E_TIME_STAMP: a stamp that cannot be believed must not
// be quietly replaced by the current time.
SigningTime JudgeCountersignature(PKCS7_SIGNER_INFO& signer, STACK_OF(X509) * certificates, const TrustRoots& roots);

}  // namespace ktutils::detail
