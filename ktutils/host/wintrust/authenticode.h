#pragma once

#include <cstddef>
#include <cstdint>

#include "ktutils/host/win32/wintrust.h"
#include "ktutils/host/wintrust/trust_store.h"

// Windows' statuses for a countersignature that does not hold and for a hash
// algorithm that is not accepted.
#ifndef TRUST_E_TIME_STAMP
#define TRUST_E_TIME_STAMP ((HRESULT)0x80096005L)
#endif
#ifndef NTE_BAD_ALGID
#define NTE_BAD_ALGID ((HRESULT)0x80090008L)
#endif

namespace ktutils::detail {

struct VerifyPolicy {
    // Refuse signatures whose image hash is SHA-1. A dual-signed file is then
    // judged on its other signatures; one with only SHA-1 signatures is
    // refused with NTE_BAD_ALGID.
    bool refuseSha1 = false;
    // The trusted roots; none: OpenSSL's defaults.
    TrustRoots trustRoots;
};

// The policy the environment asks for: KTUTILS_REFUSE_SHA1=1 refuses SHA-1,
// KTUTILS_TRUST_ROOTS names the trusted roots.
VerifyPolicy PolicyFromEnvironment();

// Verifies the Authenticode signature embedded in the PE image `data` (`size`
// bytes, the whole file): the first entry of the certificate table, and every
// signature nested in it (unsigned attribute 1.3.6.1.4.1.311.2.4.1), each in
// full. Returns 0 or the status Windows gives for the first thing that does
// not hold:
//   TRUST_E_SUBJECT_FORM_UNKNOWN  not a PE image;
//   TRUST_E_NOSIGNATURE           no certificate table, or one that is out of
//                                 place or malformed, or no Authenticode
//                                 SignedData with one signer in it;
//   NTE_BAD_ALGID                 an image hash algorithm that is not accepted
//                                 (MD5, unknown, or SHA-1 under refuseSha1);
//   TRUST_E_BAD_DIGEST            the image hash, the signer's messageDigest
//                                 or the signature does not match;
//   TRUST_E_TIME_STAMP            a countersignature that does not hold;
//   the chain statuses of VerifyCodeSigningChain.
LONG VerifyAuthenticodeImage(const std::uint8_t* data, std::size_t size, const VerifyPolicy& policy = {});

}  // namespace ktutils::detail
