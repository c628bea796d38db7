#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ktutils/checksum/compute_crc.h"
#include "ktutils/host/mqmath/mq_allocator.h"
#include "tests/host_os_mock.h"
#include "tests/temp_dir.h"

namespace {

using testing::_;
using testing::NiceMock;

unsigned int ZlibWhole(const std::vector<std::uint8_t>& bytes) {
    return static_cast<unsigned int>(
        adler32(adler32(0, nullptr, 0), bytes.data(), static_cast<unsigned int>(bytes.size())));
}

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    return bytes;
}

class ComputeCRCFile : public testing::Test {
protected:
    TempDir dir;
};

TEST_F(ComputeCRCFile, WholeContentsMatchZlib) {
    for (std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{5553}, std::size_t{3} << 20}) {
        const auto bytes = Pattern(size);
        const std::string path = dir.Path("data-" + std::to_string(size));
        WriteBytes(path, bytes);
        EXPECT_EQ(ComputeCRC(path.c_str()), ZlibWhole(bytes)) << size;
    }
}

TEST_F(ComputeCRCFile, EmptyFileGivesTheStartValue) {
    WriteBytes(dir.Path("empty"), {});
    EXPECT_EQ(ComputeCRC(dir.Path("empty").c_str()), 1u);
}

TEST_F(ComputeCRCFile, AFileEqualsTheSameBytesInMemory) {
    const char block[3] = {'k', 't', 'u'};
    WriteBytes(dir.Path("three"), {'k', 't', 'u'});
    EXPECT_EQ(ComputeCRC(dir.Path("three").c_str()), ComputeCRC(ComputeCRC(block, 2), block + 2, 1));
}

TEST_F(ComputeCRCFile, WhatCannotBeReadAsAFileGivesZero) {
    EXPECT_EQ(ComputeCRC(dir.Path("absent").c_str()), 0u);
    EXPECT_EQ(ComputeCRC(dir.Root().string().c_str()), 0u);
    EXPECT_EQ(ComputeCRC(static_cast<const char*>(nullptr)), 0u);
}

#ifdef _WIN32
TEST_F(ComputeCRCFile, APipeGivesZeroWithoutWaitingForItsWriter) {
    const std::string name = "\\\\.\\pipe\\ktutils-crc-" + std::to_string(::GetCurrentProcessId());
    const HANDLE pipe = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ComputeCRC(name.c_str()), 0u);
    ::CloseHandle(pipe);
}

TEST_F(ComputeCRCFile, AFileThatAnotherHandleHoldsExclusivelyGivesZero) {
    const auto bytes = Pattern(10);
    WriteBytes(dir.Path("locked"), bytes);
    const HANDLE holder = ::CreateFileA(dir.Path("locked").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ComputeCRC(dir.Path("locked").c_str()), 0u);
    ::CloseHandle(holder);
    EXPECT_EQ(ComputeCRC(dir.Path("locked").c_str()), ComputeCRC(reinterpret_cast<const char*>(bytes.data()), 10));
}
#else
TEST_F(ComputeCRCFile, AFifoGivesZeroWithoutWaitingForItsWriter) {
    // A FIFO without a writer would block a plain open or read forever.
    ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(ComputeCRC(dir.Path("fifo").c_str()), 0u);
}

TEST_F(ComputeCRCFile, UnreadableFileGivesZero) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions";
    WriteBytes(dir.Path("secret"), Pattern(10));
    ::chmod(dir.Path("secret").c_str(), 0);
    EXPECT_EQ(ComputeCRC(dir.Path("secret").c_str()), 0u);
}
#endif

TEST_F(ComputeCRCFile, FileOf4GiBOrMoreGivesZeroNotAPrefixChecksum) {
    const std::string path = dir.Path("sparse");
    std::ofstream(path).close();
    std::error_code error;
    std::filesystem::resize_file(path, (std::uintmax_t{1} << 32) + 1, error);
    if (error) GTEST_SKIP() << "this file system cannot hold a file over 4 GiB: " << error.message();
    EXPECT_EQ(ComputeCRC(path.c_str()), 0u);
}

TEST_F(ComputeCRCFile, RefusedOpenGivesZero) {
    WriteBytes(dir.Path("data"), Pattern(100));
    NiceMock<MockHostOs> os;
    ScopedHostOs installed(&os);
    EXPECT_CALL(os, OpenForReading(_)).WillOnce(testing::Return(ktutils::detail::HostOs::kInvalidHandle));
    EXPECT_EQ(ComputeCRC(dir.Path("data").c_str()), 0u);
}

TEST_F(ComputeCRCFile, ShortReadGivesZeroAndGivesEverythingBack) {
    WriteBytes(dir.Path("data"), Pattern(100));
    NiceMock<MockHostOs> os;
    ScopedHostOs installed(&os);
    const std::size_t blocksBefore = MqAllocator::Instance().OutstandingBlocks();
    // The file ends early, as when it shrinks between the size and the read.
    EXPECT_CALL(os, Read(_, _, _))
        .WillOnce([](auto handle, void* buffer, std::size_t count) {
            return ktutils::detail::NativeHostOs().Read(handle, buffer, count - 1);
        })
        .WillRepeatedly(testing::Return(0));
    EXPECT_CALL(os, Close(_)).Times(1);
    EXPECT_EQ(ComputeCRC(dir.Path("data").c_str()), 0u);
    EXPECT_EQ(MqAllocator::Instance().OutstandingBlocks(), blocksBefore);
}

TEST_F(ComputeCRCFile, WithoutScratchMemoryOnlyAnEmptyFileHasAChecksum) {
    WriteBytes(dir.Path("data"), Pattern(100));
    WriteBytes(dir.Path("empty"), {});
    NiceMock<MockHostOs> os;
    ScopedHostOs installed(&os);  // no kept block can serve the request
    ON_CALL(os, MapPages(_, _)).WillByDefault(testing::Return(nullptr));
    EXPECT_EQ(ComputeCRC(dir.Path("data").c_str()), 0u);
    EXPECT_EQ(ComputeCRC(dir.Path("empty").c_str()), 1u);
}

TEST_F(ComputeCRCFile, ThrowingReadGivesTheBlockBackThenClosesAndPassesTheException) {
    WriteBytes(dir.Path("data"), Pattern(100));
    NiceMock<MockHostOs> os;
    ScopedHostOs installed(&os);
    MqAllocator& allocator = MqAllocator::Instance();
    const std::size_t blocksBefore = allocator.OutstandingBlocks();
    const std::size_t straysBefore = allocator.StrayReleases();
    std::size_t blocksAtClose = 999;
    EXPECT_CALL(os, Read(_, _, _)).WillOnce(testing::Throw(std::runtime_error("device gone")));
    EXPECT_CALL(os, Close(_)).WillOnce([&](auto handle) {
        blocksAtClose = allocator.OutstandingBlocks();
        return ktutils::detail::NativeHostOs().Close(handle);
    });
    EXPECT_THROW(ComputeCRC(dir.Path("data").c_str()), std::runtime_error);
    EXPECT_EQ(blocksAtClose, blocksBefore) << "the block must be back before the file closes";
    EXPECT_EQ(allocator.OutstandingBlocks(), blocksBefore);
    EXPECT_EQ(allocator.StrayReleases(), straysBefore) << "given back more than once";
}

}  // namespace
