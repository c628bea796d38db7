#include "tools/cli/standard_output.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tools/cli/exit_status.h"

namespace ktutils::tool {
namespace {

// Large enough that a dump of a big capture costs few system calls, and that
// a line of any message goes out whole. (glibc takes the size only with a
// buffer of the caller's: given none, it picks the file's block size, 4 KiB
// for a pipe.)
constexpr std::size_t kBufferSize = 64 * 1024;
char gBuffer[kBufferSize];

int gFirstError = 0;

// Standard output's writes. glibc keeps only a flag when one fails and
// drops the data, so the reason is kept here for FinishStandardOutput.
ssize_t WriteOut(void* /*cookie*/, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = write(STDOUT_FILENO, data + done, size - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            if (gFirstError == 0) gFirstError = errno;
            return -1;
        }
        done += static_cast<std::size_t>(count);
    }
    return static_cast<ssize_t>(size);
}

// The stream closes, descriptor 1 stays open: serve's log writer may still be
// blocked on it in a thread of its own (a reader that never reads), and a
// descriptor closed under a write may be reused by the next open. The kernel
// closes it at exit.
int CloseOut(void* /*cookie*/) { return 0; }
bool gOwnStream = false;

}  // namespace

void BufferStandardOutput() {
    // A stream of its own over descriptor 1, so that every write's failure
    // keeps its reason; without memory for it, glibc's own stream does.
    if (std::FILE* out = fopencookie(nullptr, "w", {nullptr, WriteOut, nullptr, CloseOut})) stdout = out, gOwnStream = true;
    std::setvbuf(stdout, gBuffer, _IOLBF, kBufferSize);
}

void BufferWholeLines() {
    if (!StandardOutputIsTerminal()) std::setvbuf(stdout, gBuffer, _IOFBF, kBufferSize);
}

void WriteLine(std::FILE* out, const std::string& line) {
    if (__fpending(out) + line.size() + 1 > __fbufsize(out) && std::fflush(out) != 0) {
        RememberWriteError(out, errno);
    }
    std::fwrite(line.data(), 1, line.size(), out);
    std::putc('\n', out);
}

void Diagnose(const char* format, ...) {
    if (std::fflush(stdout) != 0) RememberWriteError(stdout, errno);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void RememberWriteError(std::FILE* stream, int error) {
    if (stream == stdout && gFirstError == 0) gFirstError = error;
}

int FinishStandardOutput(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    int error = gFirstError != 0 ? gFirstError : errno;
    // An earlier failed write leaves the stream's error flag, though the
    // last flush may have had nothing left to write.
    const bool clean = flushed && !std::ferror(stdout);
    errno = 0;
    const bool closed = !gOwnStream || std::fclose(stdout) == 0;
    if (error == 0) error = errno;
    if (clean && closed) return status;
    if (error == 0) error = EIO;  // the stream kept no reason
    std::fprintf(stderr, "ktutils: write error: %s\n", std::strerror(error));
    return kExitSystem;
}

}  // namespace ktutils::tool
