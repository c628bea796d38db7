#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ktutils/host/wintrust/pe_image.h"

namespace ktutils::detail {

// The digest with `algorithm` of the `ranges` of `data`, in order: the
// Authenticode image hash when the ranges are a PeLayout's hashedRanges.
// Empty when a range lies outside the data or the digest fails.
std::optional<std::vector<std::uint8_t>> DigestRanges(const std::uint8_t* data, std::size_t size,
                                                      const std::vector<ByteRange>& ranges, const EVP_MD* algorithm);

}  // namespace ktutils::detail
