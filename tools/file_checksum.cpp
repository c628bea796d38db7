#include "tools/file_checksum.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "ktutils.h"
#include "tools/progress_bar.h"

namespace ktutils::tool {
namespace {

// Large enough that the cost of each read and call vanishes, small enough
// that memory stays the same for any file; far inside the `int` length that
// ComputeCRC takes.
constexpr std::size_t kPieceSize = 1024 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The size to show progress against: only a regular file's is known ahead.
uint64_t KnownSize(std::FILE* file) {
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
    return static_cast<uint64_t>(status.st_size);
}

FileChecksum ChecksumStream(std::FILE* input, const std::string& label) {
    FileChecksum result;
    ProgressBar progress(stderr, label, KnownSize(input));
    std::vector<char> piece(kPieceSize);
    unsigned int checksum = InitComputeCRC();
    uint64_t done = 0;
    errno = 0;
    for (;;) {
        const std::size_t count = std::fread(piece.data(), 1, piece.size(), input);
        if (count == 0) break;
        checksum = ComputeCRC(checksum, piece.data(), static_cast<int>(count));
        done += count;
        progress.Update(done);
    }
    if (std::ferror(input)) {
        // fread leaves errno as the failed read(2) set it (EISDIR, EIO).
        result.error = errno != 0 ? errno : EIO;
        std::clearerr(input);
        return result;
    }
    std::clearerr(input);  // standard input may be asked for again: "-" twice
    result.ok = true;
    result.checksum = checksum;
    return result;
}

}  // namespace

FileChecksum ChecksumFile(const std::string& path, const std::string& label) {
    const std::unique_ptr<std::FILE, FileCloser> input(std::fopen(path.c_str(), "rb"));
    if (!input) {
        FileChecksum failed;
        failed.error = errno;
        return failed;
    }
    return ChecksumStream(input.get(), label);
}

FileChecksum ChecksumStandardInput(const std::string& label) {
    return ChecksumStream(stdin, label);
}

}  // namespace ktutils::tool
