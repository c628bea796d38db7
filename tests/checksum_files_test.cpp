#include <gmock/gmock.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ktutils/checksum/crc_marker.h"
#include "ktutils/host/mqmath/mq_file.h"
#include "tests/host_os_mock.h"
#include "tests/temp_dir.h"

namespace {

using testing::Return;
using ktutils::detail::HostOs;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

enum Thing { kNone, kRegular, kFolder, kFifo, kLink, kStaleTemporary, kNoFolder, kLoop };
enum Seam { kNative = 0, kMayNotWrite = 1, kNoNewNames = 2, kNoOwner = 4, kNoUnnamed = 8, kWriteFails = 16, kWriteThrows = 32,
            kRenameFails = 64, kReadThrows = 128, kReadsNothing = 256, kNoScratch = 512, kHuge = 1024, kNoOpen = 2048,
            kByteWrites = 4096, kTemporaryTaken = 8192, kLooksAbsent = 16384, kNotRegularOnceOpen = 32768,
            kNoInode = 65536 };
constexpr long long kComputed = -1, kThrows = -2;

template <class Call> long long ResultOf(Call call) try { return call(); } catch (const std::runtime_error&) { return kThrows; }
template <class Case> std::string NameOf(const testing::TestParamInfo<Case>& info) { return info.param.name; }

// Every scratch object goes back once, and no temporary file stays.
class Files : public testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ((std::vector<std::size_t>{mq.OutstandingStrings(), mq.OutstandingBlocks(), mq.StrayReleases()}),
                  (std::vector<std::size_t>{strings, blocks, strays})) << "scratch strings, blocks, second releases";
        EXPECT_EQ(OpenFiles(), files) << "a handle was left open";
        for (const auto& entry : fs::recursive_directory_iterator(dir.Root()))
            EXPECT_NE(entry.path().string().back(), '~') << "a temporary file stayed: " << entry.path();
    }
    void Make(Thing thing, const std::string& path, const Bytes& bytes) {
        if (thing == kRegular || thing == kStaleTemporary) WriteBytes(path, bytes);
        if (thing == kStaleTemporary) WriteBytes(path.substr(0, path.size() - 1) + "~", {9});
        if (thing == kFolder) fs::create_directory(path);
#ifndef _WIN32
        if (thing == kFifo) ::mkfifo(path.c_str(), 0600);
        if (thing == kRegular) (void)!::chown(path.c_str(), 4242, getegid());  // only root can: then it is another's
        if (thing == kLink) WriteBytes(dir.Path("kept"), bytes);
        for (int link = 0; thing == kLink && link < 40; ++link)  // as many as open(2) follows, ending at "kept"
            fs::create_symlink(link ? "l" + std::to_string(link - 1) : "kept", link < 39 ? dir.Path("l" + std::to_string(link)) : path);
        if (thing == kLoop) fs::create_symlink(fs::path(path).filename(), path);
#endif
    }
    void Fail(int seam) {
        const auto on = [seam](int bit) { return (seam & bit) != 0; };
        if (on(kMayNotWrite)) ON_CALL(os, MayWrite).WillByDefault(Return(false));
        if (on(kNoNewNames | kNoUnnamed)) ON_CALL(os, CreateUnnamed).WillByDefault(Return(HostOs::kInvalidHandle));
        if (on(kNoNewNames)) ON_CALL(os, CreateExclusive).WillByDefault(Return(HostOs::kInvalidHandle));
        if (on(kNoOwner)) ON_CALL(os, Adopt).WillByDefault(Return(false));
        if (on(kWriteFails)) ON_CALL(os, Write).WillByDefault(Return(-1));
        if (on(kWriteThrows)) ON_CALL(os, Write).WillByDefault(testing::Throw(std::runtime_error("gone")));
        if (on(kRenameFails)) ON_CALL(os, Rename).WillByDefault(Return(false));
        if (on(kReadThrows)) ON_CALL(os, Read).WillByDefault(testing::Throw(std::runtime_error("gone")));
        if (on(kReadsNothing)) ON_CALL(os, Read).WillByDefault(Return(0));  // it shrank
        if (on(kNoScratch)) ON_CALL(os, MapPages).WillByDefault(Return(nullptr));
        if (on(kLooksAbsent)) ON_CALL(os, StatusOfPath).WillByDefault(Return(false));  // made by another meanwhile
        if (on(kNotRegularOnceOpen)) ON_CALL(os, StatusOf).WillByDefault([this](HostOs::Handle file, auto* status) {
            return os.native.StatusOf(file, status) && (status->kind = ktutils::detail::FileStatus::Kind::Fifo, true); });
        if (on(kNoInode)) ON_CALL(os, StatusOf).WillByDefault([this](HostOs::Handle file, auto* status) {  // as on Windows
            return os.native.StatusOf(file, status) && (status->inode = 0, true); });
        if (on(kNoOpen)) ON_CALL(os, OpenForReading).WillByDefault(Return(HostOs::kInvalidHandle));
        if (on(kHuge)) ON_CALL(os, StatusOf).WillByDefault([this](HostOs::Handle file, auto* status) {
            return os.native.StatusOf(file, status) && (status->size = std::uint64_t{1} << 32); });
        if (on(kByteWrites)) ON_CALL(os, Write).WillByDefault([this](auto f, auto b, auto) { return os.native.Write(f, b, 1); });
        if (on(kTemporaryTaken)) ON_CALL(os, Write).WillByDefault([this](auto f, auto b, auto n) {  // by another writer
            return fs::remove(dir.Path("d.cr~")), WriteBytes(dir.Path("d.cr~"), {7}), os.native.Write(f, b, n); });
    }
    TempDir dir;
    testing::NiceMock<MockHostOs> os;
    ScopedHostOs installed{&os};
    MqAllocator& mq = MqAllocator::Instance();
    static std::ptrdiff_t OpenFiles() {  // of this process, where Linux lists them (under Wine: Wine's own)
#ifdef __linux__
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
#else
        return 0;
#endif
    }
    const std::ptrdiff_t files = OpenFiles();
    const std::size_t strings = mq.OutstandingStrings(), blocks = mq.OutstandingBlocks(), strays = mq.StrayReleases();
};

// Without a marker GetFileCRC is zlib's checksum of the whole file (kComputed), 0 for what is not read whole as a
// regular file; with one, both readers give its first 4 bytes, little-endian, but only GetFileCRC2 asks for a regular file.
struct ReadCase { const char* name; Thing file; int size; Thing marker; Bytes bytes; int seam; long long crc; int fromMarker;
                  long long crc2; };

const ReadCase kReadCases[] = {
    {"EmptyFile", kRegular, 0, kNone, {}, kNative, 1, 0, 0}, {"OneByteFile", kRegular, 1, kNone, {}, kNative, kComputed, 0, 0},
    {"FileOfManyReadPieces", kRegular, (3 << 20) + 5, kNone, {}, kNative, kComputed, 0, 0},
    {"NoFile", kNone, 0, kNone, {}, kNative, 0, 0, 0}, {"Folder", kFolder, 0, kNone, {}, kNative, 0, 0, 0},
    {"FileTheOsRefusesToOpen", kRegular, 10, kNone, {}, kNoOpen, 0, 0, 0},
    {"FourGiBFile", kRegular, 10, kNone, {}, kHuge, 0, 0, 0},
    {"FileShrankAfterItsSizeWasTaken", kRegular, 100, kNone, {}, kReadsNothing, 0, 0, 0},
    {"FileWithoutScratchMemory", kRegular, 100, kNone, {}, kNoScratch, 0, 0, 0},
    {"EmptyFileWithoutScratchMemory", kRegular, 0, kNone, {}, kNoScratch, 1, 0, 0},
    {"FileReadThrows", kRegular, 100, kNone, {}, kReadThrows, kThrows, 0, 0},
    {"FourByteMarker", kRegular, 3, kRegular, {0xD4, 0xC3, 0xB2, 0xA1, 0xFE}, kNative, 0xA1B2C3D4, 1, 0xA1B2C3D4},
    {"ShortMarkerFillsTheLowBytes", kRegular, 3, kRegular, {0x56, 0x34, 0x12}, kNative, 0x123456, 1, 0x123456},
    {"EmptyMarker", kRegular, 3, kRegular, {}, kNative, 0, 1, 0},
    {"MarkerOfAFolder", kFolder, 0, kRegular, {1, 2, 3, 4}, kNative, 0x04030201, 1, 0},
    {"MarkerReadThrows", kRegular, 3, kRegular, {1, 2, 3, 4}, kReadThrows, kThrows, 0, kThrows},
#ifndef _WIN32
    {"FifoWithoutWriter", kFifo, 0, kNone, {}, kNative, 0, 0, 0},
#endif
};

class FileCRC : public Files, public testing::WithParamInterface<ReadCase> {};

TEST_P(FileCRC, IsTheMarkersElseZlibsOverTheWholeFileElseZero) {
    const ReadCase& c = GetParam();
    const std::string path = dir.Path("data");
    Bytes bytes(static_cast<std::size_t>(c.size));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
    Make(c.file, path, bytes);
    Make(c.marker, path + ".crc", c.bytes);
    Fail(c.seam);
    const long long crc = c.crc == kComputed ? adler32(1, bytes.data(), static_cast<uInt>(bytes.size())) : c.crc;
    EXPECT_EQ(MqFile::GetFileMode(path.c_str()) & 0xF000u, (std::vector<unsigned int>{0, 0x8000, 0x4000, 0x1000}[c.file]));
    int fromMarker = -1;  // read in order: after the call that sets it
    EXPECT_EQ((std::vector<long long>{ResultOf([&] { return GetFileCRC(path.c_str(), &fromMarker); }), fromMarker,
        ResultOf([&] { return GetFileCRC(path.c_str(), nullptr); }), ResultOf([&] { return GetFileCRC2(path.c_str()); }),
        GetFileCRC2(nullptr)}), (std::vector<long long>{crc, c.fromMarker, crc, c.crc2, 0}));
    MqFile file;  // opens once, to read only: a null name, a second open and a write through it are refused
    EXPECT_CALL(os, Write).Times(0);
    EXPECT_FALSE(file.Open(path.c_str(), file.ReadExisting) &&
                 file.Open(nullptr, file.ReadExisting) + file.Open(path.c_str(), file.WriteReplace) + file.Write("x", 1) != 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileCRC, testing::ValuesIn(kReadCases), NameOf<ReadCase>);

// The writers land where, and fail where, an in-place open of the marker for writing would, and leave a
// whole marker, old (1..8, with `mode` when not 0) or new; `info`: WriteFileInfo, else CreateFileCRCMarker.
struct WriteCase { const char* name; Thing old; unsigned int mode; int seam; bool info; int result; bool replaced; };

const WriteCase kWriteCases[] = {
    {"CreatesTheMarker", kNone, 0, kNative, false, 1, true}, {"NoSuchFolder", kNoFolder, 0, kNative, false, 0, false},
    {"MarkerIsAFolder", kFolder, 0, kNative, false, 0, false},
    {"MarkerTheOsRefuses", kRegular, 0, kMayNotWrite, false, 0, false},
    {"NoMarkerInAFolderThatRefusesNewNames", kNone, 0, kNoNewNames, false, 0, false},
    {"MarkerInAFolderThatRefusesNewNamesWrittenInPlace", kRegular, 0, kNoNewNames, true, 1, true},
    {"TemporaryLeftByAKilledWriter", kStaleTemporary, 0, kNative, false, 1, true},
    {"NamedTemporaryLeftByAKilledWriter", kStaleTemporary, 0, kNoUnnamed, false, 1, true},
    {"FailedWriteKeepsTheOldMarker", kRegular, 0, kWriteFails, true, 1, false},
    {"ThrowingWriteKeepsTheOldMarker", kRegular, 0, kWriteThrows, false, kThrows, false},
    {"FailedRenameKeepsTheOldMarker", kRegular, 0, kRenameFails | kNoUnnamed, false, 1, false},
    {"OneByteWritesMakeAWholeMarker", kRegular, 0, kByteWrites, true, 1, true},
    {"NamedTemporaryWhoseHandleNamesNoInode", kRegular, 0, kNoUnnamed | kNoInode, false, 1, true},
    {"MarkerMadeByAnotherAfterTheLookIsLeftAlone", kRegular, 0, kNoNewNames | kLooksAbsent, false, 0, false},
    {"MarkerNoLongerRegularWhenOpenedInPlace", kRegular, 0, kNoNewNames | kNotRegularOnceOpen, false, 0, false},
#ifndef _WIN32  // owners, inodes and modes as POSIX has them
    {"MarkerWhoseOwnerCannotBeKeptWrittenInPlace", kRegular, 0, kNoOwner, false, 1, true},
    {"TemporaryTakenByAnotherWriterIsLeftToIt", kRegular, 0, kTemporaryTaken | kNoUnnamed, false, 1, false},
    {"MarkerWithoutWriteBits", kRegular, 0444, kNative, false, 0, false},
    {"MarkerModeKept", kRegular, 0604, kNative, false, 1, true},
    {"SymlinkedMarkerWrittenThrough", kLink, 0, kNative, false, 1, true},
    {"MarkerInASymlinkLoop", kLoop, 0, kNative, false, 0, false},
#endif
};

class MarkerWrite : public Files, public testing::WithParamInterface<WriteCase> {};

TEST_P(MarkerWrite, LandsOrFailsAsAnInPlaceOpenWouldAndLeavesAWholeMarker) {
    const WriteCase& c = GetParam();
    const std::string path = dir.Path(c.old == kNoFolder ? "none/d" : "d"), marker = path + ".crc";
    const Bytes old = {1, 2, 3, 4, 5, 6, 7, 8};
    Make(c.old, marker, old);
    if (c.mode != 0) fs::permissions(marker, static_cast<fs::perms>(c.mode));
    Fail(c.seam);
    ktutils::detail::FileStatus was, now;
    const fs::file_type before = (os.native.StatusOfPath(marker.c_str(), &was), fs::symlink_status(marker).type());
    const char* name = path.c_str();
    if (c.replaced && c.old != kStaleTemporary && c.seam != kNoNewNames) EXPECT_CALL(os, Remove).Times(0);  // maybe another's
    EXPECT_EQ(ResultOf([&] { return c.info ? WriteFileInfo(name, 0xA0B0C0D, -2) : CreateFileCRCMarker(name, 0xA0B0C0D); }), c.result);
    EXPECT_EQ(fs::symlink_status(marker).type(), c.replaced && c.old == kNone ? fs::file_type::regular : before);
    Bytes expected = c.replaced ? Bytes{0x0D, 0x0C, 0x0B, 0x0A} : c.old == kNone ? Bytes{} : old;
    if (c.replaced && c.info) expected.insert(expected.end(), {0xFE, 0xFF, 0xFF, 0xFF});
    if (std::error_code loop; fs::is_regular_file(marker, loop) || c.old == kNone) { EXPECT_EQ(ReadBytes(marker), expected); }
    EXPECT_TRUE(c.old == kNone || !os.native.StatusOfPath(marker.c_str(), &now) ||
                (now.owner == was.owner && now.permissions == was.permissions)) << "the old marker's owner or mode changed";
    XString end;  // of the chain of links: none for a loop
    EXPECT_TRUE(c.old != kLoop || !os.native.FinalName(marker.c_str(), &end));
    if (c.seam & kTemporaryTaken) { EXPECT_TRUE(fs::remove(path + ".cr~")) << "the other writer's was taken"; }
}

INSTANTIATE_TEST_SUITE_P(Cases, MarkerWrite, testing::ValuesIn(kWriteCases), NameOf<WriteCase>);

TEST_F(Files, MarkerReaderSeesOnlyWholeMarkersWhileAWriterReplacesThem) {
    const std::string path = dir.Path("data");  // no file: a missing marker would give 0
    ASSERT_EQ(CreateFileCRCMarker(path.c_str(), 0x11111111u), 1);
    std::atomic<bool> done{false};
    std::thread writer([&] {  // a 4-byte and an 8-byte marker in turn: an emptied one would read as 0
        for (int round = 0; round < 100; ++round)
            round % 2 ? CreateFileCRCMarker(path.c_str(), 0x11111111u) : WriteFileInfo(path.c_str(), 0x22222222u, 0);
        done = true;
    });
    for (unsigned int seen = 0x11111111u; !done && (seen == 0x11111111u || seen == 0x22222222u);)
        EXPECT_TRUE((seen = GetFileCRC(path.c_str(), nullptr)) == 0x11111111u || seen == 0x22222222u) << std::hex << seen;
    writer.join();
}

}  // namespace
