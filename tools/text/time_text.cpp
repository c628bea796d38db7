#include "tools/text/time_text.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace ktutils::tool {
namespace {

constexpr int64_t kMicro = 1000000;

// Whole seconds and microseconds of `us`, signed, as "-0.250000".
std::string Seconds(int64_t us) {
    char text[40];
    const uint64_t magnitude = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
    std::snprintf(text, sizeof text, "%s%" PRIu64 ".%06" PRIu64, us < 0 ? "-" : "", magnitude / kMicro,
                  magnitude % kMicro);
    return text;
}

}  // namespace

std::optional<TimeForm> ParseTimeForm(const std::string& text) {
    if (text == "epoch") return TimeForm::Epoch;
    if (text == "iso") return TimeForm::Iso;
    if (text == "relative") return TimeForm::Relative;
    if (text == "delta") return TimeForm::Delta;
    return std::nullopt;
}

std::string TimeText::Format(int64_t seconds, uint32_t microseconds) {
    const int64_t at = seconds * kMicro + microseconds;
    if (!first_) first_ = at;
    const int64_t before = previous_.value_or(at);
    previous_ = at;
    switch (form_) {
    case TimeForm::Relative: return Seconds(at - *first_);
    case TimeForm::Delta: return Seconds(at - before);
    case TimeForm::Epoch: return Seconds(at);
    case TimeForm::Iso: break;
    }
    const auto whole = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[64];
    if (gmtime_r(&whole, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts) == 0) {
        return Seconds(at);  // a year that does not fit: the number is still true
    }
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06" PRIu32 "Z", microseconds % 1000000u);
    return text + std::string(fraction);
}

std::string TimeText::Now() {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return Format(us / kMicro, static_cast<uint32_t>(us % kMicro));
}

std::string Stamped(const std::string& line, bool json, TimeText& time) {
    const std::string now = time.Now();
    if (!json) return now + " " + line;
    // An object's text starts with "{": the time goes first inside it.
    return "{\"time\":\"" + now + "\"" + (line.compare(0, 2, "{}") == 0 ? "" : ",") + line.substr(1);
}

}  // namespace ktutils::tool
