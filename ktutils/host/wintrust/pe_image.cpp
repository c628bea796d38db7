#include "ktutils/host/wintrust/pe_image.h"

#include <algorithm>

namespace ktutils::detail {
namespace {

// Offsets of the PE format (the published Microsoft PE/COFF layout).
constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint64_t kSignatureSize = 4;       // "PE\0\0"
constexpr std::uint64_t kFileHeaderSize = 20;     // COFF header
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Within the optional header; the same for PE32 and PE32+ up to the data
// directories, which PE32+ moves 16 bytes on for its wider image base and
// stack and heap sizes.
constexpr std::uint64_t kSizeOfHeadersOffset = 60;
constexpr std::uint64_t kCheckSumOffset = 64;
constexpr std::uint64_t kPe32DirectoryCountOffset = 92;
constexpr std::uint64_t kPe32PlusDirectoryCountOffset = 108;
constexpr std::uint64_t kDirectoryEntrySize = 8;
constexpr std::uint64_t kSecurityDirectoryIndex = 4;
constexpr std::uint64_t kCertificateAlignment = 8;

// Reads little-endian values at a checked offset. Every read goes through
// here, so a value is only ever read from inside the buffer.
class Reader {
public:
    Reader(const std::uint8_t* data, std::uint64_t size) : m_data(data), m_size(size) {}

    std::uint64_t Size() const { return m_size; }
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }
    bool U16(std::uint64_t offset, std::uint16_t& value) const {
        if (!Has(offset, 2)) return false;
        value = static_cast<std::uint16_t>(m_data[offset] | (m_data[offset + 1] << 8));
        return true;
    }
    bool U32(std::uint64_t offset, std::uint32_t& value) const {
        if (!Has(offset, 4)) return false;
        value = static_cast<std::uint32_t>(m_data[offset]) |
                (static_cast<std::uint32_t>(m_data[offset + 1]) << 8) |
                (static_cast<std::uint32_t>(m_data[offset + 2]) << 16) |
                (static_cast<std::uint32_t>(m_data[offset + 3]) << 24);
        return true;
    }
    bool Bytes(std::uint64_t offset, const char* expected, std::uint64_t length) const {
        if (!Has(offset, length)) return false;
        return std::equal(expected, expected + length, m_data + offset,
                          [](char e, std::uint8_t b) { return static_cast<std::uint8_t>(e) == b; });
    }

private:
    const std::uint8_t* m_data;
    std::uint64_t m_size;
};

}  // namespace

PeLayoutStatus ParsePeLayout(const std::uint8_t* data, std::size_t size, PeLayout& layout) {
    layout = PeLayout{};
    if (data == nullptr) return PeLayoutStatus::kNotPe;
    const Reader in(data, size);

    if (!in.Has(0, kDosHeaderSize) || !in.Bytes(0, "MZ", 2)) return PeLayoutStatus::kNotPe;
    std::uint32_t lfanew = 0;
    in.U32(kLfanewOffset, lfanew);
    const std::uint64_t peOffset = lfanew;
    if (!in.Bytes(peOffset, "PE\0\0", kSignatureSize)) return PeLayoutStatus::kNotPe;
    const std::uint64_t fileHeader = peOffset + kSignatureSize;
    std::uint16_t sectionCount = 0, optionalHeaderSize = 0;
    if (!in.U16(fileHeader + 2, sectionCount) || !in.U16(fileHeader + 16, optionalHeaderSize))
        return PeLayoutStatus::kNotPe;

    const std::uint64_t optionalHeader = fileHeader + kFileHeaderSize;
    std::uint16_t magic = 0;
    if (!in.U16(optionalHeader, magic)) return PeLayoutStatus::kNotPe;
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return PeLayoutStatus::kNotPe;
    layout.pe32Plus = magic == kPe32PlusMagic;
    const std::uint64_t countOffset = layout.pe32Plus ? kPe32PlusDirectoryCountOffset : kPe32DirectoryCountOffset;
    const std::uint64_t directories = countOffset + 4;

    // The directory count and every entry it claims must lie inside the
    // optional header, and the header must reach the security entry.
    std::uint32_t directoryCount = 0;
    if (!in.U32(optionalHeader + countOffset, directoryCount)) return PeLayoutStatus::kNotPe;
    if (directoryCount <= kSecurityDirectoryIndex) return PeLayoutStatus::kNotPe;
    if (directories + directoryCount * kDirectoryEntrySize > optionalHeaderSize) return PeLayoutStatus::kNotPe;

    std::uint32_t sizeOfHeaders = 0;
    in.U32(optionalHeader + kSizeOfHeadersOffset, sizeOfHeaders);
    layout.checksumOffset = optionalHeader + kCheckSumOffset;
    layout.certificateEntryOffset = optionalHeader + directories + kSecurityDirectoryIndex * kDirectoryEntrySize;
    std::uint32_t certificateOffset = 0, certificateSize = 0;
    in.U32(layout.certificateEntryOffset, certificateOffset);
    in.U32(layout.certificateEntryOffset + 4, certificateSize);

    // The section table follows the optional header; headers, as SizeOfHeaders
    // counts them, hold it and lie inside the file.
    const std::uint64_t sectionTable = optionalHeader + optionalHeaderSize;
    const std::uint64_t sectionTableEnd = sectionTable + sectionCount * kSectionHeaderSize;
    if (sectionTableEnd > sizeOfHeaders || !in.Has(0, sizeOfHeaders)) return PeLayoutStatus::kNotPe;

    std::vector<ByteRange> sections;
    sections.reserve(sectionCount);
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = sectionTable + i * kSectionHeaderSize;
        std::uint32_t rawSize = 0, rawPointer = 0;
        in.U32(header + 16, rawSize);
        in.U32(header + 20, rawPointer);
        if (rawSize == 0) continue;  // nothing of it is in the file
        if (!in.Has(rawPointer, rawSize)) return PeLayoutStatus::kNotPe;
        sections.push_back({rawPointer, rawSize});
    }

    layout.certificateTable = {certificateOffset, certificateSize};
    if (certificateSize == 0) {
        // Unsigned: an address without a size is no table either.
        layout.certificateTable = {};
        return PeLayoutStatus::kOk;
    }

    std::uint64_t imageEnd = sizeOfHeaders;
    for (const ByteRange& s : sections) imageEnd = std::max(imageEnd, s.offset + s.size);
    // The table's "address" is a file offset. It comes last, after everything
    // the hash covers, and nothing may follow it: bytes after it would be
    // neither hashed nor signed.
    if (certificateOffset % kCertificateAlignment != 0 || certificateOffset < imageEnd ||
        static_cast<std::uint64_t>(certificateOffset) + certificateSize != in.Size())
        return PeLayoutStatus::kBadCertificatePlacement;

    // The Authenticode image hash: the headers without the checksum and the
    // security entry, the sections in file order, then whatever lies between
    // the image and the certificate table.
    std::stable_sort(sections.begin(), sections.end(),
                     [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    auto& ranges = layout.hashedRanges;
    ranges.push_back({0, layout.checksumOffset});
    ranges.push_back({layout.checksumOffset + 4, layout.certificateEntryOffset - (layout.checksumOffset + 4)});
    const std::uint64_t afterEntry = layout.certificateEntryOffset + kDirectoryEntrySize;
    ranges.push_back({afterEntry, sizeOfHeaders - afterEntry});
    ranges.insert(ranges.end(), sections.begin(), sections.end());
    if (certificateOffset > imageEnd) ranges.push_back({imageEnd, certificateOffset - imageEnd});
    return PeLayoutStatus::kOk;
}

}  // namespace ktutils::detail
