#pragma once

#include <optional>
#include <string>

namespace ktutils::tool {

// The lines of a checksum list, in GNU sha256sum's layouts with the
// algorithm named ADLER32:
//   plain   "01a2b3c4  NAME" ("01a2b3c4 *NAME" with the binary mark)
//   tagged  "ADLER32 (NAME) = 01a2b3c4" (BSD, `--tag`)
// A name holding a backslash, newline or carriage return is escaped (\\, \n,
// \r) and the line starts with a backslash, so every name fits on one line
// and reads back unchanged; lines ended by NUL (`--zero`) are not escaped.
struct LineLayout {
    bool tagged = false;
    bool binaryMark = false;  // " *" before the name; plain layout only
    bool escape = true;       // false for NUL-terminated lines
};

// A checksum as every line shows it: 8 lowercase hex digits.
std::string ChecksumText(unsigned int checksum);

// One line as `crc` prints it, without its terminator.
std::string FormatChecksumLine(unsigned int checksum, const std::string& name,
                               const LineLayout& layout = {});

// A name as the start of a result line ("NAME: OK"), escaped the same way.
std::string QuoteName(const std::string& name);

// A name on a `--check` result line: escaped only when it holds a newline,
// as sha256sum does, so results stay easy for scripts to match.
std::string ResultName(const std::string& name);

struct ChecksumLine {
    unsigned int checksum = 0;
    std::string name;
};

// Reads one line of a list, without its line end, as sha256sum --check
// does: leading blanks are skipped, digits of either case, either layout,
// and "01a2b3c4 NAME" (one blank: the reversed BSD layout). A list keeps to
// one of the two plain forms: `plainForm` starts Unknown and remembers the
// first seen, so a file name starting with a blank cannot be misread. Empty
// when the line is in none of these forms, or holds a NUL byte (a name
// cannot, and the line may be a binary file's).
enum class PlainForm { Unknown, TwoFields, Reversed };
std::optional<ChecksumLine> ParseChecksumLine(const std::string& line, PlainForm& plainForm);

}  // namespace ktutils::tool
