#include "tools/files/checksum_line.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace ktutils::tool {
namespace {

constexpr std::size_t kDigits = 8;
constexpr char kTag[] = "ADLER32";

bool NeedsEscape(const std::string& name) {
    return name.find_first_of("\\\n\r") != std::string::npos;
}

std::string Escape(const std::string& name) {
    std::string escaped;
    for (char c : name) {
        switch (c) {
            case '\\': escaped += "\\\\"; break;
            case '\n': escaped += "\\n"; break;
            case '\r': escaped += "\\r"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The 8 hex digits at `at`; empty when any is not one.
std::optional<unsigned int> ReadDigits(const std::string& line, std::size_t at) {
    if (line.size() < at + kDigits) return std::nullopt;
    unsigned int value = 0;
    for (std::size_t i = 0; i < kDigits; ++i) {
        const int digit = HexValue(line[at + i]);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<unsigned int>(digit);
    }
    return value;
}

// Undoes the escaping; empty for a lone trailing backslash or an unknown
// escape, which no writer of this format produces.
std::optional<std::string> Unescape(const std::string& escaped) {
    std::string name;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            name += escaped[i];
            continue;
        }
        if (++i == escaped.size()) return std::nullopt;
        switch (escaped[i]) {
            case '\\': name += '\\'; break;
            case 'n': name += '\n'; break;
            case 'r': name += '\r'; break;
            default: return std::nullopt;
        }
    }
    return name;
}

std::optional<ChecksumLine> Finish(unsigned int checksum, std::string name, bool escaped) {
    if (escaped) {
        std::optional<std::string> unescaped = Unescape(name);
        if (!unescaped) return std::nullopt;
        name = std::move(*unescaped);
    }
    return ChecksumLine{checksum, std::move(name)};
}

// "(NAME) = DIGITS" from `at`, just after the tag. The name ends at the
// last ')', since the digits hold none.
std::optional<ChecksumLine> ParseTagged(const std::string& line, std::size_t at, bool escaped) {
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close < at) return std::nullopt;
    std::size_t i = close + 1;
    while (i < line.size() && Blank(line[i])) ++i;
    if (i == line.size() || line[i] != '=') return std::nullopt;
    ++i;
    while (i < line.size() && Blank(line[i])) ++i;
    const std::optional<unsigned int> checksum = ReadDigits(line, i);
    if (!checksum || i + kDigits != line.size()) return std::nullopt;
    return Finish(*checksum, line.substr(at, close - at), escaped);
}

}  // namespace

std::string FormatChecksumLine(unsigned int checksum, const std::string& name,
                               const LineLayout& layout) {
    char digits[kDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x", checksum);
    const bool escape = layout.escape && NeedsEscape(name);
    const std::string shown = escape ? Escape(name) : name;
    const std::string lead = escape ? "\\" : "";
    if (layout.tagged) return lead + kTag + " (" + shown + ") = " + digits;
    return lead + digits + (layout.binaryMark ? " *" : "  ") + shown;
}

std::string ChecksumText(unsigned int checksum) {
    char digits[kDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x", checksum);
    return digits;
}

std::string QuoteName(const std::string& name) {
    return NeedsEscape(name) ? "\\" + Escape(name) : name;
}

std::string ResultName(const std::string& name) {
    return name.find('\n') != std::string::npos ? "\\" + Escape(name) : name;
}

std::optional<ChecksumLine> ParseChecksumLine(const std::string& line, PlainForm& plainForm) {
    if (line.find('\0') != std::string::npos) return std::nullopt;
    std::size_t i = 0;
    while (i < line.size() && Blank(line[i])) ++i;
    const bool escaped = i < line.size() && line[i] == '\\';
    if (escaped) ++i;

    if (line.compare(i, std::strlen(kTag), kTag) == 0) {
        i += std::strlen(kTag);
        if (i < line.size() && line[i] == ' ') ++i;
        if (i == line.size() || line[i] != '(') return std::nullopt;
        return ParseTagged(line, i + 1, escaped);
    }

    // Digits, a blank, and a name of at least one character.
    const std::optional<unsigned int> checksum = ReadDigits(line, i);
    if (!checksum || line.size() < i + kDigits + 2 || !Blank(line[i + kDigits])) {
        return std::nullopt;
    }
    std::size_t name = i + kDigits + 1;
    const bool reversed =
        line.size() - name == 1 || (line[name] != ' ' && line[name] != '*');
    if (reversed) {
        if (plainForm == PlainForm::TwoFields) return std::nullopt;
        plainForm = PlainForm::Reversed;
    } else if (plainForm != PlainForm::Reversed) {
        plainForm = PlainForm::TwoFields;
        ++name;  // the text or binary mark
    }
    return Finish(*checksum, line.substr(name), escaped);
}

}  // namespace ktutils::tool
