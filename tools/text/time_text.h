#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The times on dump's, serve's and connect's lines, in one of four forms:
//   epoch     seconds since 1970, with microseconds  1700000000.003000
//   iso       UTC date and time (ISO 8601)          2023-11-14T22:13:20.003000Z
//   relative  seconds since the first line          0.003000
//   delta     seconds since the line before         0.001000
namespace ktutils::tool {

enum class TimeForm { Epoch, Iso, Relative, Delta };

std::optional<TimeForm> ParseTimeForm(const std::string& text);

class TimeText {
public:
    explicit TimeText(TimeForm form) : form_(form) {}
    // The time of a line at `seconds` and `microseconds` since 1970.
    std::string Format(int64_t seconds, uint32_t microseconds);
    // The time of a line written now.
    std::string Now();

private:
    TimeForm form_;
    std::optional<int64_t> first_, previous_;  // in microseconds
};

// `line` (a text line, or one JSON object's text) with the time now: before
// the text, or as the object's first member "time".
std::string Stamped(const std::string& line, bool json, TimeText& time);

}  // namespace ktutils::tool
