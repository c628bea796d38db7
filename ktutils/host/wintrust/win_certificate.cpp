#include "ktutils/host/wintrust/win_certificate.h"

#include <algorithm>

namespace ktutils::detail {
namespace {

constexpr std::uint64_t kHeaderSize = 8;  // dwLength, wRevision, wCertificateType
constexpr std::uint16_t kRevision2 = 0x0200;
constexpr std::uint16_t kTypePkcsSignedData = 0x0002;
constexpr std::uint64_t kAlignment = 8;

std::uint64_t RoundedUp(std::uint64_t length) { return (length + kAlignment - 1) / kAlignment * kAlignment; }

}  // namespace

std::optional<ByteRange> FindSignedData(const std::uint8_t* data, std::size_t size, const ByteRange& table) {
    if (data == nullptr || table.offset > size || table.size > size - table.offset || table.size < kHeaderSize)
        return std::nullopt;
    const std::uint8_t* const first = data + table.offset;
    // The walk must land exactly on the table's end: a short or overlong
    // entry anywhere would leave bytes that belong to no entry.
    std::uint64_t firstLength = 0;
    for (std::uint64_t at = 0; at < table.size;) {
        if (table.size - at < kHeaderSize) return std::nullopt;
        const std::uint8_t* entry = first + at;
        const std::uint64_t length = static_cast<std::uint64_t>(entry[0]) |
                                     (static_cast<std::uint64_t>(entry[1]) << 8) |
                                     (static_cast<std::uint64_t>(entry[2]) << 16) |
                                     (static_cast<std::uint64_t>(entry[3]) << 24);
        if (length <= kHeaderSize || RoundedUp(length) > table.size - at) return std::nullopt;
        if (at == 0) firstLength = length;
        at += RoundedUp(length);
    }
    const std::uint16_t revision = static_cast<std::uint16_t>(first[4] | (first[5] << 8));
    const std::uint16_t type = static_cast<std::uint16_t>(first[6] | (first[7] << 8));
    if (revision != kRevision2 || type != kTypePkcsSignedData) return std::nullopt;
    if (!std::all_of(first + firstLength, first + RoundedUp(firstLength), [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    return ByteRange{table.offset + kHeaderSize, firstLength - kHeaderSize};
}

}  // namespace ktutils::detail
