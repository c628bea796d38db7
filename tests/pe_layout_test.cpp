#include "ktutils/host/wintrust/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "tests/pe_image_writer.h"

namespace {

using ktutils::detail::ByteRange;
using ktutils::detail::ParsePeLayout;
using ktutils::detail::PeLayout;
using ktutils::detail::PeLayoutStatus;
using ktutils::test::kImageSize;
using ktutils::test::kOptionalHeaderOffset;
using ktutils::test::kPeHeaderOffset;
using ktutils::test::PutU16;
using ktutils::test::PutU32;
using ktutils::test::WritePeImage;

// The published offsets: CheckSum 64 bytes into the optional header, the
// security directory the fifth of the directories at 96 (PE32) or 112 (PE32+).
constexpr std::uint64_t kChecksum = kOptionalHeaderOffset + 64;
constexpr std::uint64_t kPe32SecurityEntry = kOptionalHeaderOffset + 96 + 4 * 8;
constexpr std::uint64_t kPe32PlusSecurityEntry = kOptionalHeaderOffset + 112 + 4 * 8;

PeLayoutStatus Parse(const std::vector<std::uint8_t>& image, PeLayout& layout) {
    return ParsePeLayout(image.data(), image.size(), layout);
}

PeLayoutStatus Parse(const std::vector<std::uint8_t>& image) {
    PeLayout layout;
    return Parse(image, layout);
}

// Appends `tableSize` bytes as a certificate table at `tableOffset` (padding
// with `gap` bytes of trailing data first) and points the directory at it.
std::vector<std::uint8_t> WithCertificateTable(bool pe32Plus, std::uint32_t gap, std::uint32_t tableSize) {
    std::vector<std::uint8_t> image = WritePeImage(pe32Plus);
    const auto offset = static_cast<std::uint32_t>(image.size() + gap);
    image.resize(offset + tableSize, 0xA5);
    const std::uint64_t entry = pe32Plus ? kPe32PlusSecurityEntry : kPe32SecurityEntry;
    PutU32(image, entry, offset);
    PutU32(image, entry + 4, tableSize);
    return image;
}

TEST(PeLayout, FindsTheChecksumAndSecurityEntryOfPe32AndPe32Plus) {
    PeLayout layout;
    ASSERT_EQ(Parse(WritePeImage(false), layout), PeLayoutStatus::kOk);
    EXPECT_FALSE(layout.pe32Plus);
    EXPECT_EQ(layout.checksumOffset, kChecksum);
    EXPECT_EQ(layout.certificateEntryOffset, kPe32SecurityEntry);
    EXPECT_EQ(layout.certificateTable.size, 0u);  // unsigned
    EXPECT_TRUE(layout.hashedRanges.empty());

    ASSERT_EQ(Parse(WritePeImage(true), layout), PeLayoutStatus::kOk);
    EXPECT_TRUE(layout.pe32Plus);
    EXPECT_EQ(layout.checksumOffset, kChecksum);
    EXPECT_EQ(layout.certificateEntryOffset, kPe32PlusSecurityEntry);
}

TEST(PeLayout, HashesHeadersWithoutChecksumAndEntryThenSectionsThenTrailingData) {
    for (bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus);
        const std::uint64_t entry = pe32Plus ? kPe32PlusSecurityEntry : kPe32SecurityEntry;
        PeLayout layout;
        ASSERT_EQ(Parse(WithCertificateTable(pe32Plus, 8, 16), layout), PeLayoutStatus::kOk);
        EXPECT_EQ(layout.certificateTable.offset, kImageSize + 8);
        EXPECT_EQ(layout.certificateTable.size, 16u);
        const std::vector<ByteRange> expected = {
            {0, kChecksum},
            {kChecksum + 4, entry - (kChecksum + 4)},
            {entry + 8, 0x200 - (entry + 8)},
            {0x200, 0x200},
            {0x400, 0x200},
            {kImageSize, 8},  // trailing data before the table
        };
        EXPECT_EQ(layout.hashedRanges, expected);
    }
}

TEST(PeLayout, HashesSectionsInFileOrderWhateverTheTableOrder) {
    std::vector<std::uint8_t> image = WithCertificateTable(false, 0, 16);
    const std::size_t sectionTable = kOptionalHeaderOffset + 224;
    std::swap_ranges(image.begin() + sectionTable, image.begin() + sectionTable + 40,
                     image.begin() + sectionTable + 40);
    PeLayout layout;
    ASSERT_EQ(Parse(image, layout), PeLayoutStatus::kOk);
    ASSERT_EQ(layout.hashedRanges.size(), 5u);
    EXPECT_EQ(layout.hashedRanges[3].offset, 0x200u);
    EXPECT_EQ(layout.hashedRanges[4].offset, 0x400u);
}

TEST(PeLayout, RefusesWhatIsNotAPeImage) {
    EXPECT_EQ(ParsePeLayout(nullptr, 0, *std::make_unique<PeLayout>()), PeLayoutStatus::kNotPe);
    EXPECT_EQ(Parse({}), PeLayoutStatus::kNotPe);
    EXPECT_EQ(Parse(std::vector<std::uint8_t>(63, 'M')), PeLayoutStatus::kNotPe);

    struct Edit {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        int width;
    };
    const std::size_t coff = kPeHeaderOffset + 4;
    const std::size_t opt = kOptionalHeaderOffset;
    const std::size_t text = opt + 224;  // the first section header
    const Edit edits[] = {
        {"no MZ", 0, 'Z', 2},
        {"e_lfanew past the end", 0x3C, 0x10000, 4},
        {"e_lfanew at the 32-bit limit", 0x3C, 0xFFFFFFFF, 4},
        {"no PE signature", kPeHeaderOffset, 0x4550 + 1, 4},
        {"unknown optional header magic", opt, 0x107, 2},
        {"security directory not counted", opt + 92, 4, 4},
        {"directories beyond the optional header", opt + 92, 17, 4},
        {"optional header shorter than its directories", coff + 16, 96 + 16 * 8 - 1, 2},
        {"headers beyond the file", opt + 60, kImageSize + 1, 4},
        {"section table beyond the headers", coff + 2, 0xFFFF, 2},
        {"section data past the end", text + 16, 0x401, 4},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        std::vector<std::uint8_t> image = WritePeImage(false);
        if (e.width == 2)
            PutU16(image, e.offset, static_cast<std::uint16_t>(e.value));
        else
            PutU32(image, e.offset, e.value);
        EXPECT_EQ(Parse(image), PeLayoutStatus::kNotPe);
    }

    // Pointer and size that wrap to a small end in 32-bit arithmetic.
    std::vector<std::uint8_t> wrapping = WritePeImage(false);
    PutU32(wrapping, text + 16, 0x10);
    PutU32(wrapping, text + 20, 0xFFFFFFFF);
    EXPECT_EQ(Parse(wrapping), PeLayoutStatus::kNotPe);
}

TEST(PeLayout, RefusesACertificateTableThatIsNotLastAlignedAndInsideTheFile) {
    std::vector<std::uint8_t> image = WithCertificateTable(false, 0, 16);
    ASSERT_EQ(Parse(image), PeLayoutStatus::kOk);

    std::vector<std::uint8_t> appended = image;
    appended.push_back(0);
    EXPECT_EQ(Parse(appended), PeLayoutStatus::kBadCertificatePlacement);

    std::vector<std::uint8_t> truncated(image.begin(), image.end() - 1);
    EXPECT_EQ(Parse(truncated), PeLayoutStatus::kBadCertificatePlacement);

    std::vector<std::uint8_t> misaligned = WithCertificateTable(false, 4, 12);
    EXPECT_EQ(Parse(misaligned), PeLayoutStatus::kBadCertificatePlacement);

    std::vector<std::uint8_t> overlapping = image;  // starts inside .data
    PutU32(overlapping, kPe32SecurityEntry, static_cast<std::uint32_t>(kImageSize - 8));
    PutU32(overlapping, kPe32SecurityEntry + 4, 24);
    EXPECT_EQ(Parse(overlapping), PeLayoutStatus::kBadCertificatePlacement);

    std::vector<std::uint8_t> wrapping = image;  // offset + size wraps to the file size in 32 bits
    PutU32(wrapping, kPe32SecurityEntry, 0xFFFFFFF8);
    PutU32(wrapping, kPe32SecurityEntry + 4, static_cast<std::uint32_t>(image.size() + 8));
    EXPECT_EQ(Parse(wrapping), PeLayoutStatus::kBadCertificatePlacement);
}

TEST(PeLayout, RefusesEveryTruncationOfAnImage) {
    const std::vector<std::uint8_t> image = WritePeImage(true);
    for (std::size_t size = 0; size < image.size(); ++size)
        ASSERT_EQ(ParsePeLayout(image.data(), size, *std::make_unique<PeLayout>()), PeLayoutStatus::kNotPe) << size;
}

TEST(PeLayout, NeverHashesOutsideTheBufferWhateverTheHeadersSay) {
    // Random damage to the headers: whatever the parser accepts must stay
    // inside the buffer.
    std::mt19937 random(20240607);
    const std::vector<std::uint8_t> original = WithCertificateTable(false, 8, 16);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> image = original;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < edits; ++i) image[random() % 0x200] = static_cast<std::uint8_t>(random());
        PeLayout layout;
        if (Parse(image, layout) != PeLayoutStatus::kOk) continue;
        ++accepted;
        for (const ByteRange& r : layout.hashedRanges) {
            ASSERT_LE(r.offset, image.size());
            ASSERT_LE(r.size, image.size() - r.offset);
        }
        ASSERT_LE(layout.certificateTable.offset + layout.certificateTable.size, image.size());
    }
    EXPECT_GT(accepted, 0);  // the damage left some images whole enough to check
}

}  // namespace
