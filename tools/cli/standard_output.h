#pragma once

#include <cstdio>

namespace ktutils::tool {

// Standard output is fully buffered unless it is a terminal, so a command
// writing into a file or a pipe makes few large writes rather than one per
// line. Call before anything is written.
void BufferStandardOutput();

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
