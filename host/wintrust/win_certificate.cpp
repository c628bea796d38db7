#include "host/wintrust/win_certificate.h"

#include <algorithm>

namespace ktutils::detail {
namespace {

constexpr std::uint64_t kHeaderSize = 8;  // dwLength, wRevision, wCertificateType
constexpr std::uint16_t kRevision2 = 0x0200;
constexpr std::uint16_t kTypePkcsSignedData = 0x0002;
constexpr std::uint64_t kAlignment = 8;

}  // namespace

std::optional<ByteRange> FindSignedData(const std::uint8_t* data, std::size_t size, const ByteRange& table) {
    if (data == nullptr || table.offset > size || table.size > size - table.offset || table.size < kHeaderSize)
        return std::nullopt;
    const std::uint8_t* entry = data + table.offset;
    const std::uint64_t length = static_cast<std::uint64_t>(entry[0]) | (static_cast<std::uint64_t>(entry[1]) << 8) |
                                 (static_cast<std::uint64_t>(entry[2]) << 16) |
                                 (static_cast<std::uint64_t>(entry[3]) << 24);
    const std::uint16_t revision = static_cast<std::uint16_t>(entry[4] | (entry[5] << 8));
    const std::uint16_t type = static_cast<std::uint16_t>(entry[6] | (entry[7] << 8));
    if (revision != kRevision2 || type != kTypePkcsSignedData) return std::nullopt;
    // One certificate, and the table is exactly it: a second entry or room
    // left over would be bytes outside the signature.
    if (length <= kHeaderSize || length > table.size) return std::nullopt;
    if ((length + kAlignment - 1) / kAlignment * kAlignment != table.size) return std::nullopt;
    const std::uint8_t* padding = entry + length;
    if (!std::all_of(padding, entry + table.size, [](std::uint8_t b) { return b == 0; })) return std::nullopt;
    return ByteRange{table.offset + kHeaderSize, length - kHeaderSize};
}

}  // namespace ktutils::detail
