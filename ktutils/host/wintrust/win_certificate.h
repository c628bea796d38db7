#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ktutils/host/wintrust/pe_image.h"

namespace ktutils::detail {

// The bCertificate bytes of the first WIN_CERTIFICATE in a certificate table,
// the one Windows judges: revision 0x0200, type WIN_CERT_TYPE_PKCS_SIGNED_DATA
// and zero padding to 8 bytes. Every entry must be well formed (a length
// beyond its 8-byte header, each entry starting 8-byte aligned after the one
// before) and together they must fill the table exactly; later entries are
// not read further. Empty otherwise. Pure, like ParsePeLayout.
std::optional<ByteRange> FindSignedData(const std::uint8_t* data, std::size_t size, const ByteRange& table);

}  // namespace ktutils::detail
