#pragma once

#include <cstdio>
#include <string>

namespace ktutils::tool {

// Standard output is line-buffered, whatever it is: each line leaves in one
// write, so the runs of a parallel `xargs -P` into one file never cut into
// each other's lines, and a diagnostic on standard error never comes before
// the results printed ahead of it. The buffer holds 64 KiB, so a line up to
// that long goes out whole. `stdout` becomes a stream of the tool's own over
// descriptor 1 (it has no fileno): the one that knows why a write failed.
// Call before anything is written.
void BufferStandardOutput();

// For a command that prints many lines through WriteLine (dump of a file):
// fully buffered, a write per 64 KiB of whole lines. Such a command calls
// Diagnose for its diagnostics. Call before anything is written.
void BufferWholeLines();

// Writes `line` and a newline to `out`, first flushing what `out` holds
// when the line would not fit beside it, so that no write of a fully
// buffered stream ends inside a line.
void WriteLine(std::FILE* out, const std::string& line);

// "<text>" on standard error, after flushing standard output: results and
// diagnostics keep their order in a log of both.
void Diagnose(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whether standard output is a terminal: the commands that print as events
// happen flush each line only then.
bool StandardOutputIsTerminal();

// For code that flushes `stream` itself: when that flush failed, keeps its
// errno for FinishStandardOutput (glibc drops what it could not write, so a
// later flush may succeed with nothing to write and no reason left).
void RememberWriteError(std::FILE* stream, int error);

// Flushes and closes standard output and says whether everything written
// reached it. On failure prints "ktutils: write error: <reason>" to standard
// error and returns kExitSystem; else returns `status` unchanged. Output
// lost to a full disk or a closed descriptor must not pass for success.
int FinishStandardOutput(int status);

}  // namespace ktutils::tool
