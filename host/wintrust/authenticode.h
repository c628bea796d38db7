#pragma once

#include <cstddef>
#include <cstdint>

#include "host/win32/wintrust.h"

namespace ktutils::detail {

// Verifies the Authenticode signature embedded in the PE image `data` (`size`
// bytes, the whole file) and returns 0 or the status Windows gives for the
// first thing that does not hold:
//   TRUST_E_SUBJECT_FORM_UNKNOWN  not a PE image;
//   TRUST_E_NOSIGNATURE           no certificate table, or one that is out of
//                                 place or malformed, or no Authenticode
//                                 SignedData with one signer in it;
//   TRUST_E_BAD_DIGEST            the image hash, the signer's messageDigest
//                                 or the signature does not match, or the
//                                 hash algorithm is not accepted;
//   the chain statuses of VerifyCodeSigningChain.
LONG VerifyAuthenticodeImage(const std::uint8_t* data, std::size_t size);

}  // namespace ktutils::detail
