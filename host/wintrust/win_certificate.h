#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "host/wintrust/pe_image.h"

namespace ktutils::detail {

// The bCertificate bytes of the one WIN_CERTIFICATE in a certificate table:
// revision 0x0200, type WIN_CERT_TYPE_PKCS_SIGNED_DATA, a length that the
// table's size holds exactly once rounded up to 8 bytes, and zero padding.
// Empty when the table holds anything else. Pure, like ParsePeLayout.
std::optional<ByteRange> FindSignedData(const std::uint8_t* data, std::size_t size, const ByteRange& table);

}  // namespace ktutils::detail
