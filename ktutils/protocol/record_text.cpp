#include "ktutils/protocol/record_text.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace ktutils {
namespace {

// All of `text` as an unsigned number of at most `digits` digits and no
// larger than `max`: no sign, no spaces, nothing left over. The digit limits
// of the fixed-width parts keep "0001" from passing for a version part and
// "000000001" for half an identifier.
std::optional<uint32_t> ParseNumber(std::string_view text, int base, std::size_t digits, uint32_t max) {
    if (text.empty() || text.size() > digits) return std::nullopt;
    uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end || value > max) return std::nullopt;
    return value;
}

}  // namespace

std::string ToString(const KTUVersion& version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", version.parts[0], version.parts[1], version.parts[2],
                  version.parts[3]);
    return text;
}

std::string ToString(const KTUGUID& guid) {
    char text[18];
    std::snprintf(text, sizeof text, "%08" PRIx32 "-%08" PRIx32, guid.id1, guid.id2);
    return text;
}

std::string ToString(const KTUGuidVersion& module) {
    return ToString(module.guid) + ":" + std::to_string(module.version);
}

std::optional<KTUVersion> ParseVersion(std::string_view text) {
    KTUVersion version;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) return std::nullopt;
        const auto part = ParseNumber(text.substr(0, dot), 10, 3, 255);
        if (!part) return std::nullopt;
        version.parts[i] = static_cast<uint8_t>(*part);
        text.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    return version;
}

std::optional<KTUGUID> ParseGuid(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto id1 = ParseNumber(text.substr(0, dash), 16, 8, UINT32_MAX);
    const auto id2 = ParseNumber(text.substr(dash + 1), 16, 8, UINT32_MAX);
    if (!id1 || !id2) return std::nullopt;
    return KTUGUID{*id1, *id2};
}

std::optional<KTUGuidVersion> ParseGuidVersion(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto guid = ParseGuid(text.substr(0, colon));
    std::string_view number = text.substr(colon + 1);
    int base = 10;
    if (number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) {
        number.remove_prefix(2);
        base = 16;
    }
    const auto version = ParseNumber(number, base, std::string_view::npos, UINT32_MAX);
    if (!guid || !version) return std::nullopt;
    KTUGuidVersion module;
    module.guid = *guid;
    module.version = *version;
    return module;
}

}  // namespace ktutils
