#include "tools/checksum_line.h"

#include <cstdio>
#include <utility>

namespace ktutils::tool {
namespace {

constexpr std::size_t kDigits = 8;

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

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
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

}  // namespace

std::string FormatChecksumLine(unsigned int checksum, const std::string& name) {
    char digits[kDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x", checksum);
    if (!NeedsEscape(name)) return std::string(digits) + "  " + name;
    return "\\" + std::string(digits) + "  " + Escape(name);
}

std::string QuoteName(const std::string& name) {
    return NeedsEscape(name) ? "\\" + Escape(name) : name;
}

std::optional<ChecksumLine> ParseChecksumLine(const std::string& line) {
    const bool escaped = !line.empty() && line[0] == '\\';
    const std::size_t start = escaped ? 1 : 0;
    // Digits, a space, a space or '*', and a name of at least one character.
    if (line.size() < start + kDigits + 3) return std::nullopt;
    ChecksumLine parsed;
    for (std::size_t i = 0; i < kDigits; ++i) {
        const int value = HexValue(line[start + i]);
        if (value < 0) return std::nullopt;
        parsed.checksum = parsed.checksum << 4 | static_cast<unsigned int>(value);
    }
    const std::size_t separator = start + kDigits;
    if (line[separator] != ' ' || (line[separator + 1] != ' ' && line[separator + 1] != '*')) {
        return std::nullopt;
    }
    std::string name = line.substr(separator + 2);
    if (escaped) {
        std::optional<std::string> unescaped = Unescape(name);
        if (!unescaped) return std::nullopt;
        name = std::move(*unescaped);
    }
    parsed.name = std::move(name);
    return parsed;
}

}  // namespace ktutils::tool
