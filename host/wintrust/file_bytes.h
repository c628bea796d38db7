#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ktutils::detail {

// The whole content of the regular file at `path`, or empty when it cannot be
// opened or read, or is not a regular file (a directory, a device, a pipe).
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& path);

}  // namespace ktutils::detail
