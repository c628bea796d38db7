#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/unique_folder.h"

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    ~TempDir() { std::filesystem::remove_all(m_path, m_ignored); }
    std::string Path(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Root() const { return m_path; }

private:
    std::filesystem::path m_path = ktutils::test::MakeUniqueFolder("ktutils-test-");
    std::error_code m_ignored;  // nothing to do about what another process holds
};

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
