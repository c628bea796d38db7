#include "tools/cli/standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/cli/exit_status.h"

namespace ktutils::tool {
namespace {

// Large enough that a dump of a big capture costs few system calls.
constexpr std::size_t kBufferSize = 64 * 1024;

int gFirstError = 0;

}  // namespace

void BufferStandardOutput() {
    if (!StandardOutputIsTerminal()) std::setvbuf(stdout, nullptr, _IOFBF, kBufferSize);
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
    const bool closed = std::fclose(stdout) == 0;
    if (error == 0) error = errno;
    if (clean && closed) return status;
    if (error == 0) error = EIO;  // the stream kept no reason
    std::fprintf(stderr, "ktutils: write error: %s\n", std::strerror(error));
    return kExitSystem;
}

}  // namespace ktutils::tool
