#pragma once

#include <openssl/pkcs7.h>

#include <ctime>
#include <optional>

namespace ktutils::detail {

// The time of the signer's RFC 3161 timestamp counter-signature (unsigned
// attribute 1.3.6.1.4.1.311.3.3.1) when there is exactly one and it holds:
// a token whose imprint is the hash of the signer's signature value, signed
// by a time-stamping authority that chains to a trusted root. Empty when
// there is none or it does not hold, so the signature is judged as of now.
std::optional<std::time_t> VerifiedTimestamp(PKCS7_SIGNER_INFO& signer);

}  // namespace ktutils::detail
