#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <random>

#include "tests/support/temp_dir.h"
#include "tools/files/file_checksum.h"

namespace ktutils::tool {

// Whatever size the file had when opened (0: not a regular file), the answer is zlib's over what a read to its
// end finds: mapped, read, shrunk under the mapping (SIGBUS, or zeros within its last page) or grown since.
TEST(FileChecksum, EqualsZlibOverWhatTheFileHoldsWhateverSizeItHadWhenOpened) {
    constexpr std::uint64_t kMiB = 1 << 20;
    const struct { std::uint64_t holds, sizeWhenOpened; ReadWay way; } cases[] = {
        {0, 0, ReadWay::Fastest},                         {3 * kMiB + 5, 0, ReadWay::Mapped},
        {3 * kMiB + 5, 3 * kMiB + 5, ReadWay::Read},      {65 * kMiB + 5, 65 * kMiB + 5, ReadWay::Mapped},
        {65 * kMiB + 5, 65 * kMiB + 5, ReadWay::Fastest}, {2 * kMiB + 7, 200 * kMiB, ReadWay::Mapped},
        {2 * kMiB + 7, 2 * kMiB + 100, ReadWay::Mapped},  {3 * kMiB + 5, kMiB + 1, ReadWay::Mapped},
    };
    TempDir dir;
    std::mt19937 random(16);
    std::vector<std::uint8_t> bytes(65 * kMiB + 5);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    for (const auto& c : cases) {
        WriteBytes(dir.Path("f"), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + c.holds));
        const int fd = ::open(dir.Path("f").c_str(), O_RDONLY);
        const FileChecksum result = ChecksumOpenFile(fd, c.sizeWhenOpened, "f", c.way);
        ::close(fd);
        EXPECT_TRUE(result.ok) << c.holds << " bytes, " << c.sizeWhenOpened << " when opened";
        EXPECT_EQ(result.checksum, adler32(1, bytes.data(), static_cast<uInt>(c.holds))) << c.holds << " " << c.sizeWhenOpened;
    }
}

}  // namespace ktutils::tool
