#include "tools/text/quoted_name.h"

#include <cstdio>
#include <cstring>

namespace ktutils::tool {
namespace {

// Characters a shell reads specially anywhere in a word (':' because a
// diagnostic separates its fields with colons).
bool SpecialAnywhere(char c) {
    return c != '\0' && std::strchr(" !\"$&'()*;<=>?[\\^`|:", c) != nullptr;
}

// Inside double quotes these still mean something to a shell.
bool SpecialInDoubleQuotes(char c) { return c != '\0' && std::strchr("!\"$\\`", c) != nullptr; }

// The length of the well-formed UTF-8 sequence of two or more bytes at
// `at`, or 0 when the byte there is ASCII or does not start one.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    unsigned code = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool Printable(const std::string& text, std::size_t at, std::size_t& length) {
    const auto c = static_cast<unsigned char>(text[at]);
    length = 1;
    if (c >= 0x20 && c < 0x7F) return true;
    if (c < 0x80) return false;
    length = Utf8Length(text, at);
    if (length != 0) return true;
    length = 1;
    return false;
}

std::string Escaped(unsigned char c) {
    switch (c) {
        case '\a': return "\\a";
        case '\b': return "\\b";
        case '\t': return "\\t";
        case '\n': return "\\n";
        case '\v': return "\\v";
        case '\f': return "\\f";
        case '\r': return "\\r";
        default: {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            return octal;
        }
    }
}

}  // namespace

std::string QuoteFileName(const std::string& name) {
    bool plain = !name.empty() && name != "{" && name != "}" && name[0] != '#' && name[0] != '~';
    bool doubleQuotable = name.find('\'') != std::string::npos;
    for (std::size_t i = 0, length = 0; i < name.size(); i += length) {
        const bool printable = Printable(name, i, length);
        if (!printable || SpecialAnywhere(name[i])) plain = false;
        if (!printable || (name[i] != '\'' && name[i] != ' ' && SpecialAnywhere(name[i])) ||
            SpecialInDoubleQuotes(name[i])) {
            doubleQuotable = false;
        }
    }
    if (plain) return name;
    if (doubleQuotable) return "\"" + name + "\"";

    std::string quoted = "'";
    bool open = true;  // inside '...'
    for (std::size_t i = 0, length = 0; i < name.size(); i += length) {
        if (!Printable(name, i, length)) {
            // A run of bytes a terminal cannot show goes into one $'...'.
            if (open) quoted += "'";
            quoted += "$'";
            for (; i < name.size() && !Printable(name, i, length); ++i) {
                quoted += Escaped(static_cast<unsigned char>(name[i]));
            }
            quoted += "'";
            open = false;
            length = 0;
            continue;
        }
        if (!open) {
            quoted += "'";
            open = true;
        }
        if (name[i] == '\'') {
            quoted += "'\\''";
        } else {
            quoted.append(name, i, length);
        }
    }
    if (open) quoted += "'";
    return quoted;
}

}  // namespace ktutils::tool
