#include "tools/file_checksum.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>

#include "ktutils.h"
#include "tools/progress_bar.h"

namespace ktutils::tool {
namespace {

// Large enough that the cost of each read and call vanishes, small enough
// that it stays in the cache between the read and the checksum; far inside
// the `int` length that ComputeCRC takes.
constexpr std::size_t kPieceSize = 1024 * 1024;

// A large regular file can be checksummed where it lies in the page cache, a
// mapped window at a time, with no copy into a buffer. That wins where the
// cache holds the file in large pages (a file written in large pieces: 1.3
// times the read here) and loses badly where it holds it in small ones (a
// file written in small pieces, or read back from disk: 0.3 times), and
// neither can be asked beforehand. So the first two probes of a large file
// decide: one mapped, one read, each timed by the thread's own CPU clock,
// which other processes do not move; the rest goes the cheaper way.
// Figures in docs/performance.md. A window is the file's cached pages,
// shared, so memory stays this much however large the file.
constexpr std::uint64_t kProbeSize = 16 * 1024 * 1024;
constexpr std::uint64_t kDecideFrom = 128 * 1024 * 1024;
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

// Maps from `at->done` up to `end` (inside the file's size) a window at a
// time. False where a window cannot be mapped or the file turns out shorter:
// `at` then stands at the first byte not counted, for the reads to go on.
bool ChecksumMappedSpan(int fd, std::uint64_t end, Progress* at, ProgressBar& progress) {
    if (!InstallBusGuard()) return false;
    while (at->done < end) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, end - at->done));
        void* window = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(at->done));
        if (window == MAP_FAILED) return false;
        // Advice only: read ahead, and map the cached pages in one call
        // rather than fault them in one by one.
        madvise(window, length, MADV_SEQUENTIAL);
#ifdef MADV_POPULATE_READ
        madvise(window, length, MADV_POPULATE_READ);
#endif
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

std::int64_t ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

FileChecksum ChecksumStream(std::FILE* input, const std::string& label) {
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
    bool map = way == ReadWay::Mapped && positional;
    if (way == ReadWay::Fastest && size >= kDecideFrom) {
        const std::int64_t start = ThreadCpuNanoseconds();
        const bool mapped = ChecksumMappedSpan(fd, kProbeSize, &at, progress);
        const std::int64_t middle = ThreadCpuNanoseconds();
        if (!ChecksumReadSpan(fd, positional, at.done + kProbeSize, &at, &result.error, progress))
            return result;
        map = mapped && middle - start < ThreadCpuNanoseconds() - middle;
    }
    if (map) ChecksumMappedSpan(fd, size, &at, progress);
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
