#pragma once

#include <string>

namespace ktutils::tool {

// A file name for a diagnostic on standard error, quoted as GNU coreutils
// quotes names there (its "shell-escape" style, colons quoted too): left as
// it is when a shell would read it back unchanged, else in single quotes,
// or double quotes when it holds a single quote and nothing else a shell
// treats specially there; control bytes and bytes that are not UTF-8 are
// written $'\n' or $'\ooo'. So a name with a newline cannot split a line and
// the text can be pasted back into a shell. Unlike coreutils, the result
// does not depend on the locale: every well-formed UTF-8 sequence is shown.
std::string QuoteFileName(const std::string& name);

}  // namespace ktutils::tool
