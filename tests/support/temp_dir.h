#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

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

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    ~TempDir() { std::filesystem::remove_all(m_path, m_ignored); }
    std::string Path(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Root() const { return m_path; }

private:
    std::filesystem::path m_path = MakeUniqueFolder("ktutils-test-");
    std::error_code m_ignored;  // nothing to do about what another process holds
};

using Bytes = std::vector<std::uint8_t>;

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
