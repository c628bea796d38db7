#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace ktutils::test {

// A new, empty folder under the system's temporary folder, named `prefix` and a random suffix; create_directory
// refuses an existing one, so no two processes share it (Windows has no mkdtemp).
inline std::filesystem::path MakeUniqueFolder(const std::string& prefix) {
    std::random_device entropy;
    const std::filesystem::path parent = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = parent / (prefix + std::to_string(entropy()));
        if (std::filesystem::create_directory(candidate)) return candidate;
    }
    throw std::runtime_error("no unused test folder name under " + parent.string());
}

}  // namespace ktutils::test
