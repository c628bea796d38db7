#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "checksum/compute_crc.h"
#include "checksum/crc_marker.h"
#include "host/mqmath/mq_allocator.h"
#include "host/mqmath/mq_file.h"
#include "tests/host_os_mock.h"
#include "tests/temp_dir.h"

namespace {

using testing::_;
using testing::NiceMock;

class CrcMarker : public testing::Test {
protected:
    // A data file whose checksum differs from every marker value used here.
    std::string DataFile(const std::string& name = "data.bin") {
        const std::string path = dir.Path(name);
        WriteBytes(path, {'p', 'a', 'y', 'l', 'o', 'a', 'd'});
        return path;
    }
    TempDir dir;
};

TEST_F(CrcMarker, WrittenAsFourLittleEndianBytesBesideTheWholePath) {
    const std::string path = DataFile();
    EXPECT_EQ(CreateFileCRCMarker(path.c_str(), 1), 1);
    EXPECT_EQ(ReadBytes(path + ".crc"), (std::vector<std::uint8_t>{0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(CreateFileCRCMarker(path.c_str(), 0xA1B2C3D4u), 1);
    EXPECT_EQ(ReadBytes(path + ".crc"), (std::vector<std::uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST_F(CrcMarker, FileInfoAddsTheValueAfterTheChecksum) {
    const std::string path = DataFile();
    EXPECT_EQ(WriteFileInfo(path.c_str(), 0x11223344u, -2), 1);
    EXPECT_EQ(ReadBytes(path + ".crc"),
              (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF}));
    int fromMarker = -1;
    EXPECT_EQ(GetFileCRC(path.c_str(), &fromMarker), 0x11223344u);
    EXPECT_EQ(fromMarker, 1);
    EXPECT_EQ(GetFileCRC2(path.c_str()), 0x11223344u);
    // Rewriting keeps no byte of the longer marker.
    EXPECT_EQ(CreateFileCRCMarker(path.c_str(), 7), 1);
    EXPECT_EQ(ReadBytes(path + ".crc").size(), 4u);
}

TEST_F(CrcMarker, StaleMarkerWinsOverChangedContents) {
    const std::string path = DataFile();
    ASSERT_EQ(CreateFileCRCMarker(path.c_str(), 0xCAFEu), 1);
    WriteBytes(path, {'c', 'h', 'a', 'n', 'g', 'e', 'd'});
    int fromMarker = 0;
    EXPECT_EQ(GetFileCRC(path.c_str(), &fromMarker), 0xCAFEu);
    EXPECT_EQ(fromMarker, 1);
    EXPECT_EQ(GetFileCRC(path.c_str(), nullptr), 0xCAFEu);
    EXPECT_EQ(GetFileCRC2(path.c_str()), 0xCAFEu);
}

TEST_F(CrcMarker, WithoutAMarkerTheChecksumIsComputed) {
    const std::string path = DataFile();
    int fromMarker = -1;
    EXPECT_EQ(GetFileCRC(path.c_str(), &fromMarker), ComputeCRC("payload", 7));
    EXPECT_EQ(fromMarker, 0);
    EXPECT_EQ(GetFileCRC(path.c_str(), nullptr), ComputeCRC("payload", 7));
    EXPECT_EQ(GetFileCRC2(path.c_str()), 0u);
}

TEST_F(CrcMarker, NoMarkerAndNoFileGiveZero) {
    int fromMarker = -1;
    EXPECT_EQ(GetFileCRC(dir.Path("absent").c_str(), &fromMarker), 0u);
    EXPECT_EQ(fromMarker, 0);
    EXPECT_EQ(GetFileCRC2(dir.Path("absent").c_str()), 0u);
    EXPECT_EQ(GetFileCRC2(nullptr), 0u);
}

TEST_F(CrcMarker, ShortMarkersFillTheLowBytes) {
    const std::string path = DataFile();
    WriteBytes(path + ".crc", {});
    int fromMarker = 0;
    EXPECT_EQ(GetFileCRC(path.c_str(), &fromMarker), 0u);
    EXPECT_EQ(fromMarker, 1) << "an empty marker is still a marker";
    EXPECT_EQ(GetFileCRC2(path.c_str()), 0u);

    WriteBytes(path + ".crc", {0x34, 0x12});
    EXPECT_EQ(GetFileCRC(path.c_str(), &fromMarker), 0x1234u);
    EXPECT_EQ(GetFileCRC2(path.c_str()), 0x1234u);

    WriteBytes(path + ".crc", {0x56, 0x34, 0x12});
    EXPECT_EQ(GetFileCRC2(path.c_str()), 0x123456u);
}

TEST_F(CrcMarker, MarkerIsFoundOnlyForARegularFile) {
    // Markers that match the names, beside things that are not regular files.
    const std::string folder = dir.Path("folder");
    std::filesystem::create_directory(folder);
    WriteBytes(folder + ".crc", {1, 2, 3, 4});
    WriteBytes(dir.Path("missing.crc"), {1, 2, 3, 4});
    EXPECT_EQ(GetFileCRC2(folder.c_str()), 0u);
    EXPECT_EQ(GetFileCRC2(dir.Path("missing").c_str()), 0u);

#ifndef _WIN32
    // A socket's POSIX type bits include 0x8000; its mode word must not.
    const std::string socketPath = dir.Path("s");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    WriteBytes(socketPath + ".crc", {1, 2, 3, 4});
    EXPECT_EQ(GetFileCRC2(socketPath.c_str()), 0u);
    ::close(fd);
#endif
}

TEST_F(CrcMarker, AMarkerThatIsAFolderCountsAsAbsent) {
    const std::string path = DataFile();
    std::filesystem::create_directory(path + ".crc");
    int fromMarker = -1;
    EXPECT_EQ(GetFileCRC(path.c_str(), &fromMarker), ComputeCRC("payload", 7));
    EXPECT_EQ(fromMarker, 0);
    EXPECT_EQ(GetFileCRC2(path.c_str()), 0u);
}

TEST_F(CrcMarker, WritersNeedOnlyAWritableFolder) {
    EXPECT_EQ(CreateFileCRCMarker(dir.Path("not-there").c_str(), 5), 1);
    EXPECT_EQ(ReadBytes(dir.Path("not-there.crc")), (std::vector<std::uint8_t>{5, 0, 0, 0}));
    EXPECT_EQ(CreateFileCRCMarker(dir.Path("no-such-folder/file").c_str(), 5), 0);
    EXPECT_EQ(WriteFileInfo(dir.Path("no-such-folder/file").c_str(), 5, 6), 0);
}

TEST_F(CrcMarker, EveryCallGivesBackItsScratchString) {
    const std::string path = DataFile();
    MqAllocator& allocator = MqAllocator::Instance();
    const std::size_t before = allocator.OutstandingStrings();
    CreateFileCRCMarker(path.c_str(), 1);
    WriteFileInfo(path.c_str(), 1, 2);
    GetFileCRC(path.c_str(), nullptr);
    GetFileCRC2(path.c_str());
    CreateFileCRCMarker(dir.Path("no-such-folder/file").c_str(), 1);
    GetFileCRC(dir.Path("absent").c_str(), nullptr);
    EXPECT_EQ(allocator.OutstandingStrings(), before);
}

// Records how many scratch strings were out when a file closed.
class CrcMarkerThroughSeam : public CrcMarker {
protected:
    void CloseRecordsStrings() {
        ON_CALL(os, Close(_)).WillByDefault([this](auto handle) {
            stringsAtClose.push_back(MqAllocator::Instance().OutstandingStrings());
            return ktutils::detail::NativeHostOs().Close(handle);
        });
    }
    NiceMock<MockHostOs> os;
    ScopedHostOs installed{&os};
    std::vector<std::size_t> stringsAtClose;
};

TEST_F(CrcMarkerThroughSeam, ThrowingMarkerReadClosesTheMarkerBeforeTheStringGoesBack) {
    const std::string path = DataFile();
    ASSERT_EQ(CreateFileCRCMarker(path.c_str(), 9), 1);
    const std::size_t before = MqAllocator::Instance().OutstandingStrings();
    CloseRecordsStrings();
    EXPECT_CALL(os, Read(_, _, _)).WillRepeatedly(testing::Throw(std::runtime_error("read failed")));
    EXPECT_THROW(GetFileCRC(path.c_str(), nullptr), std::runtime_error);
    EXPECT_THROW(GetFileCRC2(path.c_str()), std::runtime_error);
    EXPECT_EQ(stringsAtClose, (std::vector<std::size_t>{before + 1, before + 1}));
    EXPECT_EQ(MqAllocator::Instance().OutstandingStrings(), before);
}

TEST_F(CrcMarkerThroughSeam, ThrowingFallbackReadGivesEverythingBackOnce) {
    const std::string path = DataFile();
    MqAllocator& allocator = MqAllocator::Instance();
    const std::size_t strings = allocator.OutstandingStrings();
    const std::size_t blocks = allocator.OutstandingBlocks();
    const std::size_t strays = allocator.StrayReleases();
    CloseRecordsStrings();
    EXPECT_CALL(os, Read(_, _, _)).WillOnce(testing::Throw(std::runtime_error("read failed")));
    int fromMarker = -1;
    EXPECT_THROW(GetFileCRC(path.c_str(), &fromMarker), std::runtime_error);
    EXPECT_EQ(fromMarker, 0);
    // The data file closed while the marker name was still held.
    EXPECT_EQ(stringsAtClose, (std::vector<std::size_t>{strings + 1}));
    EXPECT_EQ(allocator.OutstandingStrings(), strings);
    EXPECT_EQ(allocator.OutstandingBlocks(), blocks);
    EXPECT_EQ(allocator.StrayReleases(), strays);
}

TEST_F(CrcMarkerThroughSeam, ThrowingWriteKeepsTheOldMarkerWhole) {
    const std::string path = DataFile();
    ASSERT_EQ(WriteFileInfo(path.c_str(), 0x01020304u, 5), 1);
    const std::size_t before = MqAllocator::Instance().OutstandingStrings();
    CloseRecordsStrings();
    EXPECT_CALL(os, Write(_, _, _)).WillOnce(testing::Throw(std::runtime_error("disk gone")));
    EXPECT_THROW(CreateFileCRCMarker(path.c_str(), 0xFFFFFFFFu), std::runtime_error);
    EXPECT_EQ(stringsAtClose, (std::vector<std::size_t>{before + 1}));
    EXPECT_EQ(MqAllocator::Instance().OutstandingStrings(), before);
    EXPECT_EQ(ReadBytes(path + ".crc"), (std::vector<std::uint8_t>{4, 3, 2, 1, 5, 0, 0, 0}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Root()), {}), 2)
        << "the temporary file must be gone";
}

TEST_F(CrcMarkerThroughSeam, FailedWriteStillReportsOpenedButKeepsTheOldMarker) {
    const std::string path = DataFile();
    ASSERT_EQ(CreateFileCRCMarker(path.c_str(), 0x0A0B0C0Du), 1);
    EXPECT_CALL(os, Write(_, _, _)).WillOnce(testing::Return(-1));
    EXPECT_EQ(WriteFileInfo(path.c_str(), 1, 2), 1);
    EXPECT_EQ(ReadBytes(path + ".crc"), (std::vector<std::uint8_t>{0x0D, 0x0C, 0x0B, 0x0A}));
}

// The whole marker, read as the library reads it: on Windows a reader that
// does not share deletion (an ifstream's) would stop the replacement.
std::vector<std::uint8_t> ReadMarkerAsTheLibraryDoes(const std::string& path) {
    MqFile marker;
    if (!marker.Open(path.c_str(), MqFile::ReadExisting)) return {};
    std::vector<std::uint8_t> bytes(16);
    bytes.resize(marker.Read(bytes.data(), static_cast<unsigned int>(bytes.size())));
    return bytes;
}

TEST_F(CrcMarker, ReaderSeesOnlyWholeMarkersWhileAWriterReplacesThem) {
    // The writer alternates a 4-byte and an 8-byte marker; replacing in place
    // would let the reader see an empty, a cut or a mixed marker.
    const std::string path = DataFile();
    const std::vector<std::uint8_t> first = {0x11, 0x11, 0x11, 0x11};
    const std::vector<std::uint8_t> second = {0x22, 0x22, 0x22, 0x22, 0x33, 0x33, 0x33, 0x33};
    ASSERT_EQ(CreateFileCRCMarker(path.c_str(), 0x11111111u), 1);

    constexpr int kRounds = 3000;
    std::atomic<bool> done{false};
    std::atomic<int> writeFailures{0};
    std::thread writer([&] {
        for (int round = 0; round < kRounds; ++round) {
            const int ok = round % 2 == 0 ? WriteFileInfo(path.c_str(), 0x22222222u, 0x33333333)
                                          : CreateFileCRCMarker(path.c_str(), 0x11111111u);
            if (ok != 1) ++writeFailures;
        }
        done = true;
    });

    int reads = 0;
    int torn = 0;
    int notFromMarker = 0;
    while (!done) {
        const std::vector<std::uint8_t> seen = ReadMarkerAsTheLibraryDoes(path + ".crc");
        if (seen != first && seen != second) ++torn;
        int fromMarker = 0;
        const unsigned int crc = GetFileCRC(path.c_str(), &fromMarker);
        if (fromMarker != 1 || (crc != 0x11111111u && crc != 0x22222222u)) ++notFromMarker;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(writeFailures, 0);
    EXPECT_EQ(torn, 0) << "out of " << reads << " reads";
    EXPECT_EQ(notFromMarker, 0) << "out of " << reads << " reads";
    EXPECT_GT(reads, 0);
}

}  // namespace
