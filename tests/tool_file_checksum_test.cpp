#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

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
};

TEST(FileChecksum, EqualsZlibOverWhatTheFileHoldsWhateverSizeItHadWhenOpened) {
    const SizeCase cases[] = {
        {0, 0},
        {3 * kMiB + 5, 0},                   // not a regular file: read alone
        {3 * kMiB + 5, 3 * kMiB + 5},        // mapped
        {2 * kMiB + 7, 65 * kMiB},           // shrank: SIGBUS in the first window
        {2 * kMiB + 7, 2 * kMiB + 100},      // shrank within its last page
        {3 * kMiB + 5, kMiB + 1},            // grew
    };
    TempDir dir;
    std::mt19937 random(16);
    for (const SizeCase& c : cases) {
        std::vector<std::uint8_t> bytes(c.holds);
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
        const std::string path = dir.Path("f");
        WriteBytes(path, bytes);
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const FileChecksum result = ChecksumOpenFile(fd, c.sizeWhenOpened, "f");
        ::close(fd);
        EXPECT_TRUE(result.ok) << c.holds << " " << c.sizeWhenOpened;
        const uLong expected = adler32(adler32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size()));
        EXPECT_EQ(result.checksum, expected) << c.holds << " " << c.sizeWhenOpened;
    }
}

}  // namespace
}  // namespace ktutils::tool
