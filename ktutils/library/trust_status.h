#pragma once

#include <cstdint>

#include "ktutils/ktutils_export.h"

// Names and plain reasons for the statuses of the trust service: those the
// Linux trust provider gives, those Windows' WinVerifyTrust commonly gives
// for a file, and those ktutils::VerifyFile gives when the service cannot be
// asked. Both return constant texts with static storage, never null.
namespace ktutils {

// The status's constant, e.g. "TRUST_E_NOSIGNATURE" for 0x800B0100 and
// "ERROR_SUCCESS" for 0; "UNKNOWN_STATUS" for any other value.
KTUTILS_EXPORT const char* TrustStatusName(uint32_t status);

// Why, in words: "the file carries no signature" for TRUST_E_NOSIGNATURE,
// "the signature is trusted" for 0, "the trust service gave a status without
// a known meaning" for any other value.
KTUTILS_EXPORT const char* TrustStatusReason(uint32_t status);

}  // namespace ktutils
