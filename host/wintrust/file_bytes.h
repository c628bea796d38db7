#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ktutils::detail {

// A file's bytes, read once into memory that is not zero-filled first.
struct FileBytes {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
};

// The whole content of the regular file at `path`, or empty when it cannot be
// opened or read, or is not a regular file (a directory, a device, a pipe).
std::optional<FileBytes> ReadFileBytes(const std::string& path);

}  // namespace ktutils::detail
