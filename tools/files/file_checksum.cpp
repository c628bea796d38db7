#include "tools/files/file_checksum.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ktutils/ktutils.h"
#include "tools/files/progress_bar.h"

namespace ktutils::tool {
namespace {

// Large enough that the cost of each read and call vanishes, small enough
// that it stays in the cache between the read and the checksum; far inside
// the `int` length that ComputeCRC takes.
constexpr std::size_t kPieceSize = 1024 * 1024;

// A large regular file can be checksummed where it lies in the page cache, a
// mapped window at a time, with no copy into a buffer. That wins only where
// the cache holds the file in 2 MiB pages that the kernel maps whole (1.3
// times the read here); where it holds it in small pages (a file written in
// small pieces, read back from disk, or split up since), mapping costs three
// times the read. The kernel says which after mapping a window, so a window
// not mapped mostly in large pages is given up, and the rest is read.
// Figures in docs/performance.md. A window is the file's cached pages,
// shared, so memory stays this much however large the file.
// The first window is small, so that a file in small pages costs little
// before it is read.
constexpr std::uint64_t kMapFrom = 64 * 1024 * 1024;
constexpr std::size_t kFirstWindowSize = 4 * 1024 * 1024;
constexpr std::size_t kWindowSize = 64 * 1024 * 1024;

// One buffer for every file the thread reads, never zero-filled: each read
// overwrites what the checksum then uses.
char* PieceBuffer() {
    thread_local const std::unique_ptr<char[]> buffer(new char[kPieceSize]);
    return buffer.get();
}

// A mapped file that shrinks under the reader raises SIGBUS at the first
// missing page. While a window is checksummed, the handler jumps back out of
// the checksum (plain C frames, nothing to unwind) and the rest is read
// instead; anywhere else the signal keeps its previous meaning.
thread_local sigjmp_buf* t_busGuard = nullptr;
struct sigaction g_previousBusAction {};

void OnBusError(int /*signal*/, siginfo_t* /*info*/, void* /*context*/) {
    if (t_busGuard != nullptr) siglongjmp(*t_busGuard, 1);
    // Not ours: put the previous action back; the access faults again.
    sigaction(SIGBUS, &g_previousBusAction, nullptr);
}

bool InstallBusGuard() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, &g_previousBusAction) == 0;
    }();
    return installed;
}

// Continues `*checksum` over the mapped window; returns how many of its bytes
// were there (fewer only when the file shrank). Only whole pieces count, so
// the caller reads the rest from the first byte not counted.
std::size_t ChecksumMapped(const char* window, std::size_t length, unsigned int* checksum) {
    sigjmp_buf guard;
    volatile std::size_t done = 0;
    volatile unsigned int running = *checksum;
    if (sigsetjmp(guard, 1) == 0) {
        t_busGuard = &guard;
        while (done < length) {
            const std::size_t piece = std::min(kPieceSize, length - done);
            running = ComputeCRC(running, window + done, static_cast<int>(piece));
            done = done + piece;
        }
    }
    t_busGuard = nullptr;
    *checksum = running;
    return done;
}

// How far the running checksum has come through a file.
struct Progress {
    unsigned int checksum;
    std::uint64_t done;
};

// The bytes of files that the process has mapped in 2 MiB pages; -1 where
// the kernel does not say.
std::int64_t LargePageMappedBytes() {
    const int fd = open("/proc/self/smaps_rollup", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[4096];
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0) return -1;
    text[length] = '\0';
    const char* field = std::strstr(text, "FilePmdMapped:");
    if (field == nullptr) return -1;
    return std::strtoll(field + std::strlen("FilePmdMapped:"), nullptr, 10) * 1024;
}

// Maps from `at->done` up to `end` (inside the file's size) a window at a
// time; with `largePagesOnly`, only while the windows map mostly in large
// pages. False where a window is not taken or the file turns out shorter:
// `at` then stands at the first byte not counted, for the reads to go on.
bool ChecksumMappedSpan(int fd, std::uint64_t end, bool largePagesOnly, Progress* at,
                        ProgressBar& progress) {
    if (!InstallBusGuard()) return false;
    std::size_t windowSize = largePagesOnly ? kFirstWindowSize : kWindowSize;
    while (at->done < end) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(windowSize, end - at->done));
        windowSize = kWindowSize;
        void* window = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(at->done));
        if (window == MAP_FAILED) return false;
        // Advice only: read ahead, and map the cached pages in one call
        // rather than fault them in one by one.
        madvise(window, length, MADV_SEQUENTIAL);
        const std::int64_t largeBefore = largePagesOnly ? LargePageMappedBytes() : 0;
#ifdef MADV_POPULATE_READ
        madvise(window, length, MADV_POPULATE_READ);
#endif
        if (largePagesOnly && LargePageMappedBytes() - largeBefore < static_cast<std::int64_t>(length / 2)) {
            munmap(window, length);
            return false;
        }
        const std::size_t mapped = ChecksumMapped(static_cast<const char*>(window), length, &at->checksum);
        munmap(window, length);
        at->done += mapped;
        progress.Update(at->done);
        if (mapped != length) return false;
    }
    return true;
}

// Reads from `at->done` up to `end` or the end of the file, whichever comes
// first: at offsets (`positional`, a regular file) or on from the current
// position. False, with `*error`, on a read error.
bool ChecksumReadSpan(int fd, bool positional, std::uint64_t end, Progress* at, int* error,
                      ProgressBar& progress) {
    char* const piece = PieceBuffer();
    while (at->done < end) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, end - at->done));
        const ssize_t count = positional ? pread(fd, piece, want, static_cast<off_t>(at->done))
                                         : read(fd, piece, want);
        if (count == 0) return true;
        if (count < 0) {
            if (errno == EINTR) continue;
            *error = errno;  // EISDIR, EIO
            return false;
        }
        at->checksum = ComputeCRC(at->checksum, piece, static_cast<int>(count));
        at->done += static_cast<std::uint64_t>(count);
        progress.Update(at->done);
    }
    return true;
}

// A terminal in its line mode hands over a line at each Enter, and what was
// typed so far at a ^D: a read that ends without a newline was cut by ^D,
// which ends the input there, as the user meant, without a second ^D on an
// empty line. Reads go straight to the descriptor: fread would wait on.
FileChecksum ChecksumTerminal(int fd) {
    FileChecksum result;
    char* const piece = PieceBuffer();
    unsigned int checksum = InitComputeCRC();
    for (;;) {
        const ssize_t count = read(fd, piece, kPieceSize);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            result.error = errno;
            return result;
        }
        if (count == 0) break;
        checksum = ComputeCRC(checksum, piece, static_cast<int>(count));
        if (piece[count - 1] != '\n') break;
    }
    result.ok = true;
    result.checksum = checksum;
    return result;
}

bool IsLineModeTerminal(int fd) {
    struct termios mode {};
    return tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ICANON) != 0;
}

FileChecksum ChecksumStream(std::FILE* input, const std::string& label) {
    if (IsLineModeTerminal(fileno(input))) return ChecksumTerminal(fileno(input));
    FileChecksum result;
    struct stat status {};
    const bool regular = fstat(fileno(input), &status) == 0 && S_ISREG(status.st_mode);
    ProgressBar progress(stderr, label, regular ? static_cast<std::uint64_t>(status.st_size) : 0);
    char* const piece = PieceBuffer();
    unsigned int checksum = InitComputeCRC();
    std::uint64_t done = 0;
    errno = 0;
    for (;;) {
        const std::size_t count = std::fread(piece, 1, kPieceSize, input);
        if (count == 0) break;
        checksum = ComputeCRC(checksum, piece, static_cast<int>(count));
        done += count;
        progress.Update(done);
    }
    if (std::ferror(input)) {
        // fread leaves errno as the failed read(2) set it.
        result.error = errno != 0 ? errno : EIO;
        std::clearerr(input);
        return result;
    }
    std::clearerr(input);  // standard input may be asked for again: "-" twice
    result.ok = true;
    result.checksum = checksum;
    return result;
}

struct DescriptorCloser {
    int fd;
    ~DescriptorCloser() { close(fd); }
};

}  // namespace

FileChecksum ChecksumOpenFile(int fd, std::uint64_t size, const std::string& label, ReadWay way) {
    FileChecksum result;
    ProgressBar progress(stderr, label, size);
    Progress at{InitComputeCRC(), 0};
    // Only a regular file's size is known; only there are offsets meaningful.
    const bool positional = size != 0;
    if (way == ReadWay::Mapped && positional) ChecksumMappedSpan(fd, size, false, &at, progress);
    if (way == ReadWay::Fastest && size >= kMapFrom) ChecksumMappedSpan(fd, size, true, &at, progress);
    if (at.done != 0) {
        // A file cut within its last mapped page shows zeros there, not
        // SIGBUS: one now shorter than what was checksummed is read again.
        struct stat status {};
        if (fstat(fd, &status) != 0 || static_cast<std::uint64_t>(status.st_size) < at.done)
            at = Progress{InitComputeCRC(), 0};
    }
    // The rest: all of a smaller file, what was not mapped, and whatever was
    // added after the size was taken.
    if (!ChecksumReadSpan(fd, positional, UINT64_MAX, &at, &result.error, progress)) return result;
    result.ok = true;
    result.checksum = at.checksum;
    return result;
}

FileChecksum ChecksumFile(const std::string& path, const std::string& label) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        FileChecksum failed;
        failed.error = errno;
        return failed;
    }
    const DescriptorCloser closer{fd};
    struct stat status {};
    const std::uint64_t size = fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                                   ? static_cast<std::uint64_t>(status.st_size)
                                   : 0;
    return ChecksumOpenFile(fd, size, label);
}

FileChecksum ChecksumStandardInput(const std::string& label) {
    return ChecksumStream(stdin, label);
}

}  // namespace ktutils::tool
