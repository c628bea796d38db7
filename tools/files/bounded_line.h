#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace ktutils::tool {

enum class LineRead { Line, TooLong, End };

// Reads the next line of `input` into `line` (its '\n' removed). A line of
// more than `limit` bytes is skipped to its end without being kept, so one
// huge line costs no memory (TooLong); End once nothing is left. A read
// error ends reading as at the end: ask ferror(input).
LineRead ReadBoundedLine(std::FILE* input, std::string& line, std::size_t limit);

}  // namespace ktutils::tool
