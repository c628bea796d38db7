#pragma once

#include <openssl/asn1.h>

namespace ktutils::detail {

// Authenticode's object identifiers, which OpenSSL has no names for. Compared
// as dotted text so that nothing is added to OpenSSL's global object table.
inline constexpr const char* kSpcIndirectDataOid = "1.3.6.1.4.1.311.2.1.4";
inline constexpr const char* kSpcPeImageDataOid = "1.3.6.1.4.1.311.2.1.15";
inline constexpr const char* kSpcRfc3161TimestampOid = "1.3.6.1.4.1.311.3.3.1";
inline constexpr const char* kSpcNestedSignatureOid = "1.3.6.1.4.1.311.2.4.1";

// Whether `object` is the identifier `dotted`; false for null.
bool ObjectIs(const ASN1_OBJECT* object, const char* dotted);

}  // namespace ktutils::detail
