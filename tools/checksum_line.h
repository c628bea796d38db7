#pragma once

#include <optional>
#include <string>

namespace ktutils::tool {

// One line of a checksum list, in sha256sum's layout: 8 lowercase hex digits,
// two spaces, the name. A name holding a backslash, newline or carriage
// return is escaped (\\, \n, \r) and the line starts with a backslash, so
// every name fits on one line and reads back unchanged.
std::string FormatChecksumLine(unsigned int checksum, const std::string& name);

// A name as the start of a result line ("NAME: OK"), escaped the same way.
std::string QuoteName(const std::string& name);

struct ChecksumLine {
    unsigned int checksum = 0;
    std::string name;
};

// Reads a line as FormatChecksumLine writes it, without its newline; also
// takes uppercase digits and " *" (sha256sum's binary mark) before the name.
// Empty when the line is not in that form.
std::optional<ChecksumLine> ParseChecksumLine(const std::string& line);

}  // namespace ktutils::tool
