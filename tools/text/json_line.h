#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace ktutils::tool {

// One JSON object on one line; bytes that are not UTF-8 (a file name, a
// peer's string) become U+FFFD rather than an exception.
inline std::string JsonText(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The same with its newline.
inline std::string JsonLine(const nlohmann::ordered_json& object) { return JsonText(object) + "\n"; }

}  // namespace ktutils::tool
