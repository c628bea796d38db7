#pragma once

#include <openssl/pkcs7.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ktutils::detail {

// What an Authenticode signature says about the image it signs.
struct IndirectData {
    int digestNid = 0;                  // the DigestInfo's algorithm
    std::vector<std::uint8_t> digest;   // the image hash that was signed
    // The SpcIndirectDataContent without its outer tag and length: the bytes
    // the signer's messageDigest attribute covers. Points into the PKCS#7
    // object it was read from.
    const std::uint8_t* signedContent = nullptr;
    std::size_t signedContentSize = 0;
};

// Reads the SpcIndirectDataContent of a PKCS#7 SignedData: content type
// 1.3.6.1.4.1.311.2.1.4, a PE image data attribute, then a DigestInfo, in DER
// and with nothing after it. Empty for anything else.
std::optional<IndirectData> ReadIndirectData(const PKCS7& signedData);

}  // namespace ktutils::detail
