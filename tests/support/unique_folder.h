#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace ktutils::test {

// A new, empty folder under the system's temporary folder, named `prefix`
// and a random suffix. create_directory fails rather than reuse a folder that
// is already there, so two processes never share one. Works wherever
// std::filesystem does, Windows included (where mkdtemp does not exist).
inline std::filesystem::path MakeUniqueFolder(const std::string& prefix) {
    std::random_device entropy;
    const std::filesystem::path parent = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[9];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned int>(entropy()));
        const std::filesystem::path candidate = parent / (prefix + suffix);
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) return candidate;
        if (error) throw std::filesystem::filesystem_error("cannot make a test folder", candidate, error);
    }
    throw std::runtime_error("no unused test folder name under " + parent.string());
}

}  // namespace ktutils::test
