#include <gmock/gmock.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ktutils/checksum/compute_crc.h"
#include "ktutils/checksum/crc_marker.h"
#include "ktutils/host/mqmath/mq_file.h"
#include "tests/support/host_os_mock.h"
#include "tests/support/temp_dir.h"

namespace {

using testing::Return;
using ktutils::detail::HostOs;
namespace fs = std::filesystem;

enum Thing { kNone, kRegular, kFolder, kFifo, kLink, kDecoyFiles, kDecoyFolders, kNoFolder, kLoop, kLongName, kPlantedLink,
             kOverFourGiB };
enum Seam { kNative = 0, kMayNotWrite = 1, kNoNewNames = 2, kNoOwner = 4, kNoUnnamed = 8, kWriteFails = 16, kWriteThrows = 32,
            kRenameFails = 64, kReadThrows = 128, kReadsNothing = 256, kNoScratch = 512, kHuge = 1024, kNoOpen = 2048,
            kByteWrites = 4096, kTakenNames = 8192, kLooksAbsent = 16384, kNotRegularOnceOpen = 32768,
            kNoInode = 65536, kFirstWriteFails = 1 << 17, kLinkFails = 1 << 18, kTemporarySwapped = 1 << 19 };
constexpr long long kComputed = -1, kThrows = -2;

template <class Call> long long ResultOf(Call call) try { return call(); } catch (const std::runtime_error&) { return kThrows; }
template <class Case> std::string NameOf(const testing::TestParamInfo<Case>& info) { return info.param.name; }

// Every scratch object goes back once, and no handle stays open.
class Files : public testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ((std::vector<std::size_t>{mq.OutstandingStrings(), mq.OutstandingBlocks(), mq.StrayReleases()}),
                  (std::vector<std::size_t>{strings, blocks, strays})) << "scratch strings, blocks, second releases";
        EXPECT_EQ(OpenFiles(), files) << "a handle was left open";
    }
    using Entries = std::map<std::string, std::pair<fs::file_type, Bytes>>;
    Entries InFolder() const {  // everything, by its name in the test's folder, with a file's bytes
        Entries all;
        for (const auto& entry : fs::recursive_directory_iterator(dir.Root())) {
            const fs::file_type type = entry.symlink_status().type();
            all[Relative(entry.path())] = {type, type == fs::file_type::regular ? ReadBytes(entry.path().string()) : Bytes{}};
        }
        return all;
    }
    std::string Relative(const fs::path& path) const { return path.lexically_relative(dir.Root()).string(); }
    void Make(Thing thing, const std::string& path, const Bytes& bytes) {
        if (thing == kRegular || thing == kDecoyFiles || thing == kDecoyFolders) WriteBytes(path, bytes);
        // A user's own, at names a writer of "d.crc" has used or might: the old fixed one, the usual ones, random-looking ones.
        for (std::string decoy : {"d.cr~", "d.crc.tmp", "d.crc~", "d.crc.new", "crc-000000000000.tmp", "crc-vvvvvvvvvvvv.tmp"})
            thing == kDecoyFiles ? WriteBytes(dir.Path(decoy), {9}) : void(thing == kDecoyFolders && fs::create_directory(dir.Path(decoy)));
        if (thing == kFolder) fs::create_directory(path);
        if (thing == kOverFourGiB) WriteBytes(path, bytes), fs::resize_file(path, (std::uintmax_t{1} << 32) + 1);  // sparse
#ifndef _WIN32
        if (thing == kFifo) ::mkfifo(path.c_str(), 0600);
        if (thing == kRegular) (void)!::chown(path.c_str(), 4242, getegid());  // only root can: then it is another's
        if (thing == kLink || thing == kPlantedLink) WriteBytes(dir.Path("kept"), bytes);
        for (int link = 0, links = thing == kLink ? 40 : thing == kPlantedLink; link < links; ++link)  // 40: as many as open(2) follows
            fs::create_symlink(link ? "l" + std::to_string(link - 1) : "kept", link < links - 1 ? dir.Path("l" + std::to_string(link)) : path);
        if (thing == kLoop) fs::create_symlink(fs::path(path).filename(), path);
        if (thing == kPlantedLink) fs::permissions(dir.Root(), fs::perms::all | fs::perms::sticky_bit);  // like /tmp
        if (thing == kPlantedLink) (void)!::lchown(path.c_str(), 4242, 4242);  // by another user, to a file not theirs
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
        if (on(kLooksAbsent)) ON_CALL(os, StatusOfName).WillByDefault(Return(HostOs::Lookup::Absent));  // made by another meanwhile
        if (on(kNotRegularOnceOpen)) ON_CALL(os, StatusOf).WillByDefault([this](HostOs::Handle file, auto* status) {
            return os.native.StatusOf(file, status) && (status->kind = ktutils::detail::FileStatus::Kind::Fifo, true); });
        if (on(kNoInode)) ON_CALL(os, StatusOf).WillByDefault([this](HostOs::Handle file, auto* status) {  // as on Windows
            return os.native.StatusOf(file, status) && (status->inode = 0, true); });
        if (on(kNoOpen)) ON_CALL(os, OpenForReading).WillByDefault(Return(HostOs::kInvalidHandle));
        if (on(kHuge)) ON_CALL(os, StatusOf).WillByDefault([this](HostOs::Handle file, auto* status) {
            return os.native.StatusOf(file, status) && (status->size = std::uint64_t{1} << 32); });
        if (on(kByteWrites)) ON_CALL(os, Write).WillByDefault([this](auto f, auto b, auto) { return os.native.Write(f, b, 1); });
        if (on(kFirstWriteFails)) ON_CALL(os, Write).WillByDefault([this, failed = false](auto f, auto b, auto n) mutable {
            return std::exchange(failed, true) ? os.native.Write(f, b, n) : -1; });  // the disk was full, for a new file
        if (on(kLinkFails)) ON_CALL(os, Link).WillByDefault(Return(false));
        const auto take = [this, seam](const char* name) {  // someone else makes a file, then a folder, at the names tried first
            asked.push_back(name);
            if (seam & kTakenNames) asked.size() == 1 ? WriteBytes(name, {7}) : void(asked.size() == 2 && fs::create_directory(name)); };
        if (on(kTakenNames | kTemporarySwapped)) ON_CALL(os, CreateExclusive).WillByDefault([this, take](auto name) {
            return take(name), os.native.CreateExclusive(name); });
        if (on(kTemporarySwapped)) ON_CALL(os, Write).WillByDefault([this, swapped = false](auto f, auto b, auto n) mutable {
            if (!std::exchange(swapped, true)) fs::remove(asked[0]), WriteBytes(asked[0], {7});  // for a file of someone else's
            return os.native.Write(f, b, n); });
        if (on(kTakenNames)) ON_CALL(os, Link).WillByDefault([this, take](auto file, auto name) {
            return take(name), os.native.Link(file, name); });
    }
    std::vector<std::string> asked;  // the temporary names tried, when they are being taken
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
    {"FileOfSeveralMiB", kRegular, (3 << 20) + 5, kNone, {}, kNative, kComputed, 0, 0},
    {"NoFile", kNone, 0, kNone, {}, kNative, 0, 0, 0}, {"Folder", kFolder, 0, kNone, {}, kNative, 0, 0, 0},
    {"FileTheOsRefusesToOpen", kRegular, 10, kNone, {}, kNoOpen, 0, 0, 0},
    {"FourGiBFile", kRegular, 10, kNone, {}, kHuge, 0, 0, 0},
    {"RealFileOverFourGiB", kOverFourGiB, 10, kNone, {}, kNative, 0, 0, 0},  // still a regular file with 32-bit offsets
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
    EXPECT_EQ(MqFile::GetFileMode(path.c_str()) & (c.file == kNone ? ~0u : 0xF000u),
              (std::vector<unsigned int>{0, 0x8000, 0x4000, 0x1000}[c.file == kOverFourGiB ? kRegular : c.file]));
    int fromMarker = -1;  // read in order: after the call that sets it
    EXPECT_EQ((std::vector<long long>{ResultOf([&] { return GetFileCRC(path.c_str(), &fromMarker); }), fromMarker,
        ResultOf([&] { return GetFileCRC(path.c_str(), nullptr); }), ResultOf([&] { return GetFileCRC2(path.c_str()); }),
        GetFileCRC2(nullptr)}), (std::vector<long long>{crc, c.fromMarker, crc, c.crc2, 0}));
    MqFile file;  // reads nothing unopened; opens once, to read only: a null name, a second open and a write are refused
    EXPECT_CALL(os, Write).Times(0);
    EXPECT_FALSE(file.Read(&fromMarker, 1) != 0 || file.Open("", file.WriteReplace) != 0 ||
                 file.Open(path.c_str(), MqFile::OpenMode(7)) != 0 || (file.Open(path.c_str(), file.ReadExisting) &&
                 file.Open(nullptr, file.ReadExisting) + file.Open(path.c_str(), file.WriteReplace) + file.Write("x", 1) != 0));
}

INSTANTIATE_TEST_SUITE_P(Cases, FileCRC, testing::ValuesIn(kReadCases), NameOf<ReadCase>);

// The whole file goes into one scratch block in one read, then into one checksum call: the OS is asked for
// every byte at once (it may hand them over in several parts), never for a piece of the file at a time.
TEST_F(Files, ComputeCRCAsksForTheWholeFileInOneRead) {
    const std::string path = dir.Path("data");
    const Bytes bytes((3 << 20) + 5, 0x5A);
    Make(kRegular, path, bytes);
    std::vector<std::size_t> asked;
    ON_CALL(os, Read).WillByDefault([&](auto f, auto b, auto n) { return asked.push_back(n), os.native.Read(f, b, n); });
    EXPECT_EQ(ComputeCRC(path.c_str()), adler32(1, bytes.data(), static_cast<uInt>(bytes.size())));
    EXPECT_EQ(asked.empty() ? 0 : asked.front(), bytes.size());
}

// The writers land where, and fail where, an in-place open of the marker for writing would, and leave a
// whole marker, old (1..8, with `mode` when not 0) or new; `info`: WriteFileInfo, else CreateFileCRCMarker.
// Nothing else in the folder is made, changed or removed; a link's target is the marker's bytes.
struct WriteCase { const char* name; Thing old; unsigned int mode; int seam; bool info; int result; bool replaced; };

const WriteCase kWriteCases[] = {
    {"CreatesTheMarker", kNone, 0, kNative, false, 1, true}, {"NoSuchFolder", kNoFolder, 0, kNative, false, 0, false},
    {"MarkerIsAFolder", kFolder, 0, kNative, true, 0, false},
    {"MarkerTheOsRefuses", kRegular, 0, kMayNotWrite, false, 0, false},
    {"NameTooLongForTheFileSystem", kLongName, 0, kNative, false, 0, false},
    {"NoMarkerInAFolderThatRefusesNewNames", kNone, 0, kNoNewNames, false, 0, false},
    {"MarkerInAFolderThatRefusesNewNamesWrittenInPlace", kRegular, 0, kNoNewNames, true, 1, true},
    {"UsersFilesAtNamesAWriterMightUse", kDecoyFiles, 0, kNative, false, 1, true},
    {"UsersFoldersAtNamesAWriterMightUse", kDecoyFolders, 0, kNative, true, 1, true},
    {"UsersFilesAtNamesANamedTemporaryMightUse", kDecoyFiles, 0, kNoUnnamed, false, 1, true},
    {"NamesTakenMeanwhileAreSkippedNeverReused", kRegular, 0, kTakenNames, false, 1, true},
    {"NamedTemporaryNamesTakenMeanwhileAreSkippedNeverReused", kRegular, 0, kTakenNames | kNoUnnamed, true, 1, true},
    {"TemporaryThatCannotBeNamedWritesInPlace", kRegular, 0, kLinkFails, true, 1, true},
    {"FailedTemporaryWriteWritesInPlace", kRegular, 0, kFirstWriteFails, true, 1, true},
    {"FailedRenameWritesInPlace", kRegular, 0, kRenameFails, false, 1, true},
    {"FailedRenameOfANamedTemporaryWritesInPlace", kRegular, 0, kRenameFails | kNoUnnamed, true, 1, true},
    {"WriteFailingInPlaceTooKeepsTheOldMarker", kRegular, 0, kWriteFails, true, 1, false},
    {"ThrowingWriteKeepsTheOldMarker", kRegular, 0, kWriteThrows, false, kThrows, false},
    {"OneByteWritesMakeAWholeMarker", kRegular, 0, kByteWrites, true, 1, true},
    {"NamedTemporaryWhoseHandleNamesNoInode", kRegular, 0, kNoUnnamed | kNoInode, false, 1, true},
    {"MarkerMadeByAnotherAfterTheLookIsLeftAlone", kRegular, 0, kNoNewNames | kLooksAbsent, false, 0, false},
    {"MarkerNoLongerRegularWhenOpenedInPlace", kRegular, 0, kNoNewNames | kNotRegularOnceOpen, false, 0, false},
#ifndef _WIN32  // owners, inodes, modes and links as POSIX has them
    {"MarkerWhoseOwnerCannotBeKeptWrittenInPlace", kRegular, 0, kNoOwner, false, 1, true},
    {"NamedTemporarySwappedForAnothersFileIsLeftToIt", kRegular, 0, kTemporarySwapped | kNoUnnamed, false, 1, true},
    {"MarkerWithoutWriteBits", kRegular, 0444, kNative, false, 0, false},
    {"MarkerModeKept", kRegular, 0604, kNative, false, 1, true},
    {"SymlinkedMarkerWrittenThroughInPlace", kLink, 0, kNative, false, 1, true},
    {"MarkerInASymlinkLoop", kLoop, 0, kNative, false, 0, false},
    {"LinkPlantedByAnotherUserIsRefusedByTheKernel", kPlantedLink, 0, kNative, false, 0, false},
#endif
};

class MarkerWrite : public Files, public testing::WithParamInterface<WriteCase> {};

TEST_P(MarkerWrite, LandsOrFailsAsAnInPlaceOpenWouldAndLeavesAWholeMarker) {
    const WriteCase& c = GetParam();
    const std::string path = dir.Path(c.old == kNoFolder ? "none/d" : c.old == kLongName ? std::string(252, 'd') : "d");
    const std::string marker = path + ".crc";
    const Bytes old = {1, 2, 3, 4, 5, 6, 7, 8};
    Make(c.old, marker, old);
#ifndef _WIN32
    struct stat link {};
    if (c.old == kPlantedLink && (ReadBytes("/proc/sys/fs/protected_symlinks") != Bytes{'1', '\n'} ||
                                  ::lstat(marker.c_str(), &link) != 0 || link.st_uid != 4242))
        GTEST_SKIP() << "the kernel refuses another user's link in a sticky folder only with fs.protected_symlinks=1, "
                        "and only root can plant one";
#endif
    if (c.mode != 0) fs::permissions(marker, static_cast<fs::perms>(c.mode));
    Fail(c.seam);
    ktutils::detail::FileStatus was, now;
    std::error_code tooLong;
    const fs::file_type before = (os.native.StatusOfPath(marker.c_str(), &was), fs::symlink_status(marker, tooLong).type());
    Entries others = InFolder();
    const char* name = path.c_str();
    EXPECT_EQ(ResultOf([&] { return c.info ? WriteFileInfo(name, 0xA0B0C0D, -2) : CreateFileCRCMarker(name, 0xA0B0C0D); }), c.result);
    EXPECT_EQ(fs::symlink_status(marker, tooLong).type(), c.replaced && c.old == kNone ? fs::file_type::regular : before);
    Bytes expected = c.replaced ? Bytes{0x0D, 0x0C, 0x0B, 0x0A} : c.old == kNone ? Bytes{} : old;
    if (c.replaced && c.info) expected.insert(expected.end(), {0xFE, 0xFF, 0xFF, 0xFF});
    if (std::error_code loop; fs::is_regular_file(marker, loop) || c.old == kNone) { EXPECT_EQ(ReadBytes(marker), expected); }
    EXPECT_TRUE(c.old == kNone || !os.native.StatusOfPath(marker.c_str(), &now) ||
                (now.owner == was.owner && now.permissions == was.permissions)) << "the old marker's owner or mode changed";
    if (c.old == kLink) others["kept"].second = expected;
    for (std::size_t i = 0; i < asked.size() && i < 2; ++i)
        others[Relative(asked[i])] = {i ? fs::file_type::directory : fs::file_type::regular, i ? Bytes{} : Bytes{7}};
    Entries after = InFolder();
    others.erase(Relative(marker)), after.erase(Relative(marker));
    EXPECT_EQ(after, others) << "a name besides the marker was made, changed or removed";
    EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()).size(), c.seam & kTakenNames ? 3u : asked.size()) << "a taken name was tried again";
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
    EXPECT_EQ(InFolder().size(), 1u) << "a temporary file stayed";
}

}  // namespace
