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
#include <memory>

#include "ktutils.h"
#include "tools/progress_bar.h"

namespace ktutils::tool {
namespace {

// Large enough that the cost of each read and call vanishes, small enough
// that it stays in the cache between the read and the checksum; far inside
// the `int` length that ComputeCRC takes.
constexpr std::size_t kPieceSize = 1024 * 1024;

// Regular files from this size on are checksummed where they lie in the page
// cache, a window at a time: no copy into a buffer, and fewer, larger calls
// than reads. Smaller ones take one read. 64 MiB windows measured fastest
// (docs/performance.md); the mapping is the file's cached pages, shared,
// so memory stays this much however large the file.
constexpr std::uint64_t kMapFrom = kPieceSize;
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

// The mapped part of a regular file, up to `size`; returns the offset up to
// which `*checksum` covers the file. Stops early (and the caller reads on
// from there) where a window cannot be mapped or the file is shorter.
std::uint64_t ChecksumMappedWindows(int fd, std::uint64_t size, unsigned int* checksum,
                                    ProgressBar& progress) {
    if (!InstallBusGuard()) return 0;
    std::uint64_t done = 0;
    while (done < size) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, size - done));
        void* window = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(done));
        if (window == MAP_FAILED) break;
        // Advice only: read ahead, and map the cached pages in one call
        // rather than fault them in one by one.
        madvise(window, length, MADV_SEQUENTIAL);
#ifdef MADV_POPULATE_READ
        madvise(window, length, MADV_POPULATE_READ);
#endif
        const std::size_t mapped = ChecksumMapped(static_cast<const char*>(window), length, checksum);
        munmap(window, length);
        done += mapped;
        progress.Update(done);
        if (mapped != length) break;
    }
    return done;
}

// Reads `fd` from its current position to its end; `*error` set on failure.
bool ChecksumReads(int fd, std::uint64_t done, unsigned int* checksum, int* error,
                   ProgressBar& progress) {
    char* const piece = PieceBuffer();
    for (;;) {
        const ssize_t count = read(fd, piece, kPieceSize);
        if (count == 0) return true;
        if (count < 0) {
            if (errno == EINTR) continue;
            *error = errno;  // EISDIR, EIO
            return false;
        }
        *checksum = ComputeCRC(*checksum, piece, static_cast<int>(count));
        done += static_cast<std::uint64_t>(count);
        progress.Update(done);
    }
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

FileChecksum ChecksumOpenFile(int fd, std::uint64_t size, const std::string& label) {
    FileChecksum result;
    ProgressBar progress(stderr, label, size);
    unsigned int checksum = InitComputeCRC();
    std::uint64_t done = 0;
    if (size >= kMapFrom) {
        done = ChecksumMappedWindows(fd, size, &checksum, progress);
        // A file cut within the last page maps zeros, not SIGBUS: one that is
        // now shorter than what was checksummed is read again from its start.
        struct stat status {};
        if (fstat(fd, &status) != 0 || static_cast<std::uint64_t>(status.st_size) < done) {
            checksum = InitComputeCRC();
            done = 0;
        }
        if (lseek(fd, static_cast<off_t>(done), SEEK_SET) < 0) {
            result.error = errno;
            return result;
        }
    }
    // The rest: all of a small file, the part that could not be mapped, and
    // whatever was added after the size was taken.
    if (!ChecksumReads(fd, done, &checksum, &result.error, progress)) return result;
    result.ok = true;
    result.checksum = checksum;
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
