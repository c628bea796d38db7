#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "ktutils/host/mqmath/mq_file.h"
#include "tests/host_os_mock.h"
#include "tests/temp_dir.h"

namespace {

using testing::_;
using testing::NiceMock;

std::size_t EntriesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

class MqFileTest : public testing::Test {
protected:
    TempDir dir;
};

TEST_F(MqFileTest, ReadsTheWholeFileAndNothingAfterIt) {
    WriteBytes(dir.Path("f"), {1, 2, 3});
    MqFile file;
    ASSERT_NE(file.Open(dir.Path("f").c_str(), MqFile::ReadExisting), 0);
    EXPECT_EQ(file.Size(), 3u);
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 8), 3u);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    EXPECT_EQ(file.Read(nullptr, 0), 0u);
    EXPECT_EQ(file.Write(buffer, 1), 0u) << "a file opened for reading is not written";
}

TEST_F(MqFileTest, OpensOnceAndOnlyInModesOneAndTwo) {
    WriteBytes(dir.Path("f"), {1});
    MqFile file;
    EXPECT_EQ(file.Open(dir.Path("f").c_str(), static_cast<MqFile::OpenMode>(3)), 0);
    ASSERT_NE(file.Open(dir.Path("f").c_str(), MqFile::ReadExisting), 0);
    EXPECT_EQ(file.Open(dir.Path("f").c_str(), MqFile::ReadExisting), 0);
}

TEST_F(MqFileTest, ReplacementTakesTheNameOnlyWhenClosed) {
    const std::string path = dir.Path("m");
    WriteBytes(path, {9, 9, 9, 9, 9, 9});
    {
        MqFile file;
        ASSERT_NE(file.Open(path.c_str(), MqFile::WriteReplace), 0);
        const std::uint8_t bytes[2] = {1, 2};
        EXPECT_EQ(file.Write(bytes, 2), 2u);
        EXPECT_EQ(file.Size(), 2u);
        EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{9, 9, 9, 9, 9, 9}));
    }
    EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(EntriesIn(dir.Root()), 1u) << "no temporary file stays behind";
}

TEST_F(MqFileTest, FailedRenameRemovesTheTemporaryFile) {
    NiceMock<MockHostOs> os;
    ScopedHostOs installed(&os);
    EXPECT_CALL(os, Rename(_, _)).WillOnce(testing::Return(false));
    {
        MqFile file;
        ASSERT_NE(file.Open(dir.Path("m").c_str(), MqFile::WriteReplace), 0);
        file.Write("abcd", 4);
    }
    EXPECT_EQ(EntriesIn(dir.Root()), 0u);
}

TEST_F(MqFileTest, TheModeWordMarksRegularFilesWithBit15Alone) {
    WriteBytes(dir.Path("f"), {});
    EXPECT_EQ(MqFile::GetFileMode(dir.Root().string().c_str()) & 0xF000u, 0x4000u);
    EXPECT_EQ(MqFile::GetFileMode(dir.Path("absent").c_str()), 0u);
#ifdef _WIN32
    // Windows has no permission bits: read-only or not is all there is.
    EXPECT_EQ(MqFile::GetFileMode(dir.Path("f").c_str()), 0x8000u | 0666u);
    ASSERT_TRUE(::SetFileAttributesA(dir.Path("f").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(MqFile::GetFileMode(dir.Path("f").c_str()), 0x8000u | 0444u);
    ::SetFileAttributesA(dir.Path("f").c_str(), FILE_ATTRIBUTE_NORMAL);
#else
    ::chmod(dir.Path("f").c_str(), 0640);
    EXPECT_EQ(MqFile::GetFileMode(dir.Path("f").c_str()), 0x8000u | 0640u);
    EXPECT_EQ(MqFile::GetFileMode("/dev/null") & 0xF000u, 0x2000u);
    ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(MqFile::GetFileMode(dir.Path("fifo").c_str()) & 0xF000u, 0x1000u);
#endif
}

}  // namespace
