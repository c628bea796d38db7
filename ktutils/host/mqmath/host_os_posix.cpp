#include "ktutils/host/mqmath/host_os.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktutils::detail {
namespace {

// Linux moves at most 0x7ffff000 bytes per call; asking for less keeps the
// count inside ssize_t everywhere.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The folder part of `path`, "." when it has none.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

FileStatus ToStatus(const struct stat& st) {
    FileStatus status;
    if (S_ISREG(st.st_mode)) status.kind = FileStatus::Kind::Regular;
    else if (S_ISDIR(st.st_mode)) status.kind = FileStatus::Kind::Directory;
    else if (S_ISCHR(st.st_mode)) status.kind = FileStatus::Kind::CharacterDevice;
    else if (S_ISBLK(st.st_mode)) status.kind = FileStatus::Kind::BlockDevice;
    else if (S_ISFIFO(st.st_mode)) status.kind = FileStatus::Kind::Fifo;
    else if (S_ISLNK(st.st_mode)) status.kind = FileStatus::Kind::SymbolicLink;
    status.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    status.permissions = static_cast<unsigned int>(st.st_mode) & 0777u;
    status.owner = static_cast<std::uint32_t>(st.st_uid);
    status.group = static_cast<std::uint32_t>(st.st_gid);
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.inode = static_cast<std::uint64_t>(st.st_ino);
    return status;
}

class PosixHostOs final : public HostOs {
public:
    Handle OpenForReading(const char* path) override {
        // O_NONBLOCK: opening a FIFO must not wait for a writer; it has no
        // effect on the regular files that are then read.
        int fd;
        do {
            fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd < 0 ? kInvalidHandle : fd;
    }

    Handle CreateExclusive(const char* path) override {
        int fd;
        do {
            fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd < 0 ? kInvalidHandle : fd;
    }

    bool StatusOf(Handle file, FileStatus* status) override {
        struct stat st {};
        if (::fstat(static_cast<int>(file), &st) != 0) return false;
        *status = ToStatus(st);
        return true;
    }

    bool StatusOfPath(const char* path, FileStatus* status) override {
        struct stat st {};
        if (::stat(path, &st) != 0) return false;
        *status = ToStatus(st);
        return true;
    }

    Lookup StatusOfName(const char* path, FileStatus* status) override {
        struct stat st {};
        if (::lstat(path, &st) == 0) {
            *status = ToStatus(st);
            return Lookup::Found;
        }
        // ENAMETOOLONG among the refusals: a name the file system cannot hold
        // must not pass for one that is merely absent.
        return errno == ENOENT ? Lookup::Absent : Lookup::Refused;
    }

    std::int64_t Read(Handle file, void* buffer, std::size_t count) override {
        if (count > kLargestTransfer) count = kLargestTransfer;
        ssize_t got;
        do {
            got = ::read(static_cast<int>(file), buffer, count);
        } while (got < 0 && errno == EINTR);
        return got;
    }

    std::int64_t Write(Handle file, const void* bytes, std::size_t count) override {
        if (count > kLargestTransfer) count = kLargestTransfer;
        ssize_t put;
        do {
            put = ::write(static_cast<int>(file), bytes, count);
        } while (put < 0 && errno == EINTR);
        return put;
    }

    bool Flush(Handle file) override {
        int result;
        do {
            result = ::fsync(static_cast<int>(file));
        } while (result != 0 && errno == EINTR);
        return result == 0;
    }

    bool Close(Handle file) override {
        // Never retried: after EINTR the descriptor is already gone on Linux,
        // and a retry could close one that another thread just opened.
        return ::close(static_cast<int>(file)) == 0;
    }

    bool Rename(const char* from, const char* to) override { return std::rename(from, to) == 0; }

    bool Remove(const char* path) override { return ::unlink(path) == 0; }

    bool MayWrite(const char* path) override {
        // The effective ids, as open(2) uses them.
        return ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
    }

    Handle OpenForWriting(const char* path) override {
        int fd;
        do {
            fd = ::open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd < 0 ? kInvalidHandle : fd;
    }

    Handle CreateUnnamed(const char* path) override {
#ifdef O_TMPFILE
        int fd;
        do {
            fd = ::open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd < 0 ? kInvalidHandle : fd;
#else
        (void)path;
        return kInvalidHandle;
#endif
    }

    bool Link(Handle file, const char* path) override {
#ifdef AT_EMPTY_PATH
        // Linking a descriptor itself needs CAP_DAC_READ_SEARCH; its /proc
        // entry does not.
        if (::linkat(static_cast<int>(file), "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return true;
        if (errno == EEXIST) return false;
#endif
        const std::string self = "/proc/self/fd/" + std::to_string(file);
        return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
    }

    bool Adopt(Handle file, const FileStatus& like) override {
        const int fd = static_cast<int>(file);
        struct stat st {};
        if (::fstat(fd, &st) != 0) return false;
        if ((st.st_uid != like.owner || st.st_gid != like.group) &&
            ::fchown(fd, static_cast<uid_t>(like.owner), static_cast<gid_t>(like.group)) != 0)
            return false;
        return ::fchmod(fd, static_cast<mode_t>(like.permissions & 0777u)) == 0;
    }

    bool Truncate(Handle file, std::uint64_t length) override {
        int result;
        do {
            result = ::ftruncate(static_cast<int>(file), static_cast<off_t>(length));
        } while (result != 0 && errno == EINTR);
        return result == 0;
    }

    void* MapPages(std::size_t bytes, bool hugePages) override {
        if (!hugePages) {
            void* pages = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            return pages == MAP_FAILED ? nullptr : pages;
        }
        // A huge page can back only a 2 MiB-aligned range: map one huge page
        // more than needed and give back the unaligned ends.
        const std::size_t padded = bytes + kHugePage;
        void* raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) return nullptr;
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
        const std::size_t head = aligned - start;
        const std::size_t tail = padded - head - bytes;
        if (head != 0) ::munmap(raw, head);
        if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + bytes), tail);
        void* pages = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
        // Advice only: where the kernel declines, the block still works.
        ::madvise(pages, bytes, MADV_HUGEPAGE);
#endif
        return pages;
    }

    void UnmapPages(void* pages, std::size_t bytes) override { ::munmap(pages, bytes); }
};

}  // namespace

HostOs& NativeHostOs() {
    // Never destroyed, so files closed by other objects' destructors at exit
    // still reach it.
    static HostOs* const native = new PosixHostOs;
    return *native;
}

}  // namespace ktutils::detail
