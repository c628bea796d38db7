#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/temp_dir.h"
#include "tools/file_checksum.h"

namespace ktutils::tool {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// The size the file had when opened against what it holds when read: the
// answer is always zlib's over what a read to the end finds, whether the
// file is mapped, read, shrank under the mapping (SIGBUS, or zeros within its
// last page) or grew after its size was taken.
struct SizeCase {
    std::uint64_t holds;
    std::uint64_t sizeWhenOpened;
    ReadWay way;
};

TEST(FileChecksum, EqualsZlibOverWhatTheFileHoldsWhateverSizeItHadWhenOpened) {
    const SizeCase cases[] = {
        {0, 0, ReadWay::Fastest},
        {3 * kMiB + 5, 0, ReadWay::Mapped},               // not a regular file: read
        {3 * kMiB + 5, 3 * kMiB + 5, ReadWay::Read},
        {65 * kMiB + 5, 65 * kMiB + 5, ReadWay::Mapped},  // across windows
        {2 * kMiB + 7, 200 * kMiB, ReadWay::Mapped},      // shrank: SIGBUS
        {2 * kMiB + 7, 2 * kMiB + 100, ReadWay::Mapped},  // shrank within its last page
        {65 * kMiB + 5, 65 * kMiB + 5, ReadWay::Fastest},
        {3 * kMiB + 5, kMiB + 1, ReadWay::Mapped},        // grew
    };
    TempDir dir;
    // A random pattern of a length prime to every piece and window size.
    std::mt19937 random(16);
    std::vector<std::uint8_t> pattern(kMiB + 7);
    for (auto& byte : pattern) byte = static_cast<std::uint8_t>(random());
    for (const SizeCase& c : cases) {
        std::vector<std::uint8_t> bytes(c.holds);
        for (std::uint64_t at = 0; at < c.holds; at += pattern.size())
            std::copy_n(pattern.begin(), std::min<std::uint64_t>(pattern.size(), c.holds - at), bytes.begin() + at);
        const std::string path = dir.Path("f");
        WriteBytes(path, bytes);
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const FileChecksum result = ChecksumOpenFile(fd, c.sizeWhenOpened, "f", c.way);
        ::close(fd);
        EXPECT_TRUE(result.ok) << c.holds << " " << c.sizeWhenOpened;
        const uLong expected = adler32(adler32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size()));
        EXPECT_EQ(result.checksum, expected) << c.holds << " " << c.sizeWhenOpened;
    }
}

}  // namespace
}  // namespace ktutils::tool
