#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktutils::detail {

// A run of bytes in a file, by offset and length.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;

    friend bool operator==(const ByteRange& a, const ByteRange& b) { return a.offset == b.offset && a.size == b.size; }
};

enum class PeLayoutStatus {
    kOk,
    kNotPe,                    // not a PE image, or one whose headers contradict themselves
    kBadCertificatePlacement,  // a PE image whose certificate table is out of place
};

// What Authenticode needs of a PE image: where its certificate table is, and
// which bytes its image hash covers, in hashing order.
struct PeLayout {
    bool pe32Plus = false;
    std::uint64_t checksumOffset = 0;          // the optional header's CheckSum field, 4 bytes
    std::uint64_t certificateEntryOffset = 0;  // the security data directory entry, 8 bytes
    ByteRange certificateTable;                // size 0 when the image is unsigned
    std::vector<ByteRange> hashedRanges;       // empty unless signed
};

// Reads the layout of the PE image in `data` (`size` bytes). Pure and
// allocation-bounded by the section count, so that it can be fed any bytes:
// every offset and size read from the file is checked in 64-bit arithmetic
// before it is used. On kOk with a certificate table, the table is 8-byte
// aligned, lies after the headers and every section's raw data, and ends
// exactly at the end of the file.
PeLayoutStatus ParsePeLayout(const std::uint8_t* data, std::size_t size, PeLayout& layout);

}  // namespace ktutils::detail
