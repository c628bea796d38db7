#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "ktutils/host/wintrust/pe_image.h"
#include "ktutils/host/wintrust/win_certificate.h"
#include "tests/support/fixtures/pe_image_writer.h"

namespace {

using namespace ktutils::detail;
using namespace ktutils::test;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kOpt = kOptionalHeaderOffset, kCoff = kPeHeaderOffset + 4;
constexpr std::uint64_t kChecksum = kOpt + 64, kText = kOpt + 224, kData = kText + 40;  // PE32 section headers
std::uint64_t SecurityEntry(bool plus) { return kOpt + (plus ? 112 : 96) + 4 * 8; }

// The writer's image with a 16-byte certificate table after `gap` bytes.
Bytes Signed(bool plus, std::uint32_t gap = 0) {
    Bytes image = WritePeImage(plus);
    image.resize(kImageSize + gap + 16, 0xA5);
    PutU32(image, SecurityEntry(plus), static_cast<std::uint32_t>(kImageSize + gap));
    PutU32(image, SecurityEntry(plus) + 4, 16);
    return image;
}

PeLayoutStatus Parse(const Bytes& image, PeLayout& layout) { return ParsePeLayout(image.data(), image.size(), layout); }

TEST(PeLayout, HashesHeadersWithoutChecksumAndEntryThenSectionsInFileOrderThenTrailingData) {
    for (bool plus : {false, true}) {
        for (bool swapped : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "PE32+ " << plus << " sections swapped " << swapped);
            Bytes image = Signed(plus, 8);
            const std::uint64_t entry = SecurityEntry(plus), sections = kText + (plus ? 16 : 0);
            if (swapped) std::swap_ranges(&image[sections], &image[sections + 40], &image[sections + 40]);
            PeLayout l;
            ASSERT_EQ(Parse(image, l), PeLayoutStatus::kOk);
            EXPECT_EQ(std::tie(l.pe32Plus, l.checksumOffset, l.certificateEntryOffset, l.certificateTable),
                      std::make_tuple(plus, kChecksum, entry, ByteRange{kImageSize + 8, 16}));
            EXPECT_EQ(l.hashedRanges, (std::vector<ByteRange>{{0, kChecksum}, {kChecksum + 4, entry - kChecksum - 4},
                                                               {entry + 8, 0x200 - entry - 8}, {0x200, 0x200},
                                                               {0x400, 0x200}, {kImageSize, 8}}));
        }
        PeLayout l;
        ASSERT_EQ(Parse(WritePeImage(plus), l), PeLayoutStatus::kOk);
        EXPECT_TRUE(l.certificateTable == ByteRange{} && l.hashedRanges.empty());
    }
}

TEST(PeLayout, AcceptsOrRefusesEachHeaderFieldAtItsBoundary) {
    const PeLayoutStatus ok = PeLayoutStatus::kOk, notPe = PeLayoutStatus::kNotPe,
                         misplaced = PeLayoutStatus::kBadCertificatePlacement;
    const std::uint64_t entry = SecurityEntry(false);
    using Write = std::pair<std::uint64_t, std::uint32_t>;  // a 32-bit value at an offset
    const struct { const char* what; std::vector<Write> writes; PeLayoutStatus status; } cases[] = {
        {"no MZ", {{0, 0x5A4E}}, notPe}, {"e_lfanew past the end", {{0x3C, 0x10000}}, notPe},
        {"e_lfanew at the 32-bit limit", {{0x3C, 0xFFFFFFFF}}, notPe}, {"no PE", {{kCoff - 4, 0x4551}}, notPe},
        {"optional header magic 0x107", {{kOpt, 0x107}}, notPe},
        {"security directory counted last", {{kOpt + 92, 5}}, ok}, {"not counted", {{kOpt + 92, 4}}, notPe},
        {"17 directories in room for 16", {{kOpt + 92, 17}}, notPe}, {"65535 sections", {{kCoff, 0xFFFF014C}}, notPe},
        {"optional header a byte short of its directories", {{kCoff + 16, 0x0102'00DF}}, notPe},
        {"headers end where the table starts", {{kOpt + 60, kImageSize}}, ok},
        {"headers a byte into the table", {{kOpt + 60, kImageSize + 1}}, misplaced},
        {"headers a byte past the end of the file", {{kOpt + 60, kImageSize + 17}}, notPe},
        {"headers end with the section table", {{kOpt + 60, kData + 40}}, ok},
        {"headers end inside the section table", {{kOpt + 60, kData + 39}}, notPe},
        {"section data a byte past the end of the file", {{kData + 16, 0x211}}, notPe},
        {"section data a byte into the table", {{kData + 16, 0x201}}, misplaced},
        {"section data wrapping in 32 bits", {{kText + 16, 0x10}, {kText + 20, 0xFFFFFFFF}}, notPe},
        {"empty section placed anywhere", {{kText + 16, 0}, {kText + 20, 0xFFFFFFFF}}, ok},
        {"table a byte short of the end", {{entry + 4, 15}}, misplaced},
        {"table a byte past the end", {{entry + 4, 17}}, misplaced},
        {"table not 8-byte aligned", {{entry, kImageSize + 4}, {entry + 4, 12}}, misplaced},
        {"table inside .data", {{entry, kImageSize - 8}, {entry + 4, 24}}, misplaced},
        {"table end wrapping to the file size", {{entry, 0xFFFFFFF8}, {entry + 4, kImageSize + 24}}, misplaced},
        {"table inside the headers", {{kOpt + 60, kImageSize}, {kData + 16, 0}, {entry, 0x5F8}, {entry + 4, 24}}, misplaced},
        {"an address without a size", {{entry, 8}, {entry + 4, 0}}, ok},
    };
    for (const auto& c : cases) {
        Bytes image = Signed(false);
        for (const auto& [offset, value] : c.writes) PutU32(image, offset, value);
        PeLayout layout;
        EXPECT_EQ(Parse(image, layout), c.status) << c.what;
        EXPECT_TRUE(layout.certificateTable.size != 0 || layout.certificateTable == ByteRange{}) << c.what;
    }
    EXPECT_EQ(ParsePeLayout(nullptr, 0, *std::make_unique<PeLayout>()), notPe);
    const Bytes image = WritePeImage(true);
    for (std::size_t size = 0; size < image.size(); ++size)
        ASSERT_EQ(ParsePeLayout(image.data(), size, *std::make_unique<PeLayout>()), notPe) << size;
}

TEST(WinCertificate, FindsTheFirstEntrysSignedDataOnlyInAWellFormedTable) {
    constexpr std::uint64_t kTable = 16;  // image bytes before the table
    // `found`: the SignedData's size, or -1 for none; `second`: the second entry's dwLength at 32 (its revision is not
    // judged), or -1; `kind`: revision 2.0, PKCS signed data unless told.
    const struct { std::uint32_t length, tableSize; std::int64_t found, second = -1; std::uint32_t kind = 0x0002'0200;
                   std::uint8_t lastByte = 0; } cases[] = {
        {8 + 21, 32, 21}, {8 + 24, 32, 24}, {9, 16, 1}, {8 + 21, 32, -1, -1, 0x0002'0200, 1},  // padding not zero
        {32, 32, -1, -1, 0x0002'0100}, {32, 32, -1, -1, 0x0001'0200},  // another revision; X.509
        {8, 8, -1}, {7, 8, -1}, {33, 32, -1}, {24, 32, -1},  // the rest is an entry of length 0
        {0xFFFFFFFF, 32, -1}, {0x0100'001D, 32, -1}, {0x0001'001D, 32, -1}, {8 + 21, 4, -1}, {8 + 21, 48, 21, 16}, {8 + 21, 48, 21, 9},
        {8 + 21, 48, -1, 8}, {8 + 21, 48, -1, 0}, {8 + 21, 48, -1, 17},
    };
    for (const auto& c : cases) {
        Bytes file(kTable + std::max<std::uint32_t>(c.tableSize, 8), 0);
        PutU32(file, kTable, c.length);
        PutU32(file, kTable + 4, c.kind);
        if (c.second >= 0) PutU32(file, kTable + 32, std::uint32_t(c.second)), PutU32(file, kTable + 36, 0x100);
        if (c.tableSize == 32) file.back() = c.lastByte;
        const auto found = FindSignedData(file.data(), file.size(), {kTable, c.tableSize});
        EXPECT_EQ(found ? std::int64_t(found->size) : -1, c.found) << c.length << "/" << c.tableSize << "/" << c.second;
        EXPECT_EQ(found ? found->offset : kTable + 8, kTable + 8);
    }
    Bytes file(48, 0);  // a well-formed entry that ends beyond the file
    PutU32(file, kTable, 40), PutU32(file, kTable + 4, 0x0002'0200);
    EXPECT_FALSE(FindSignedData(file.data(), file.size(), {kTable, 40}));
    EXPECT_FALSE(FindSignedData(file.data(), file.size(), {~0ull - 4, 16}));
}

}  // namespace
