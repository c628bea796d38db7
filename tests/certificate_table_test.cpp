#include "ktutils/host/wintrust/win_certificate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "tests/pe_image_writer.h"

namespace {

using ktutils::detail::ByteRange;
using ktutils::detail::FindSignedData;
using ktutils::test::PutU16;
using ktutils::test::PutU32;

constexpr std::size_t kTableOffset = 16;  // some image bytes before the table

// A file whose table holds one WIN_CERTIFICATE of `length` bytes (header
// included) in a table of `tableSize` bytes.
std::vector<std::uint8_t> Table(std::uint32_t length, std::uint32_t tableSize, std::uint16_t revision = 0x0200,
                                std::uint16_t type = 2) {
    std::vector<std::uint8_t> file(kTableOffset + tableSize, 0);
    PutU32(file, kTableOffset, length);
    PutU16(file, kTableOffset + 4, revision);
    PutU16(file, kTableOffset + 6, type);
    for (std::size_t i = kTableOffset + 8; i < kTableOffset + length && i < file.size(); ++i) file[i] = 0x30;
    return file;
}

std::optional<ByteRange> Find(const std::vector<std::uint8_t>& file) {
    return FindSignedData(file.data(), file.size(), {kTableOffset, file.size() - kTableOffset});
}

TEST(WinCertificate, YieldsThePkcsSignedDataOfTheOneEntry) {
    const auto padded = Find(Table(8 + 21, 32));  // 29 bytes padded to 32
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->offset, kTableOffset + 8);
    EXPECT_EQ(padded->size, 21u);
    const auto exact = Find(Table(8 + 24, 32));
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->size, 24u);
}

TEST(WinCertificate, RefusesOtherRevisionsAndTypes) {
    EXPECT_FALSE(Find(Table(32, 32, 0x0100)));
    EXPECT_FALSE(Find(Table(32, 32, 0x0200, 1)));  // X.509 rather than PKCS signed data
}

TEST(WinCertificate, RefusesLengthsTheTableDoesNotHoldExactly) {
    EXPECT_FALSE(Find(Table(8, 8)));        // no certificate bytes at all
    EXPECT_FALSE(Find(Table(7, 8)));
    EXPECT_FALSE(Find(Table(33, 32)));      // longer than the table
    EXPECT_FALSE(Find(Table(24, 32)));      // the rest is no entry (a zero length)
    EXPECT_FALSE(Find(Table(0xFFFFFFFF, 32)));
    std::vector<std::uint8_t> shortFile = Table(32, 32);
    EXPECT_FALSE(FindSignedData(shortFile.data(), shortFile.size(), {kTableOffset, 40}));
    EXPECT_FALSE(FindSignedData(shortFile.data(), shortFile.size(), {~0ull - 4, 16}));
}

TEST(WinCertificate, JudgesTheFirstEntryWhenTheWholeTableIsWellFormed) {
    const struct {
        std::uint32_t secondLength;  // the second entry's dwLength, in a 16-byte slot
        bool found;
    } cases[] = {{16, true}, {9, true}, {8, false}, {0, false}, {17, false}};
    for (const auto& c : cases) {
        std::vector<std::uint8_t> file = Table(8 + 21, 48);
        PutU32(file, kTableOffset + 32, c.secondLength);
        PutU16(file, kTableOffset + 36, 0x0100);  // later entries are not judged
        const auto found = Find(file);
        EXPECT_EQ(found.has_value(), c.found) << c.secondLength;
        if (found) {
            EXPECT_EQ(*found, (ByteRange{kTableOffset + 8, 21}));
        }
    }
}

TEST(WinCertificate, RefusesPaddingThatIsNotZero) {
    std::vector<std::uint8_t> file = Table(8 + 21, 32);
    file.back() = 1;
    EXPECT_FALSE(Find(file));
}

}  // namespace
