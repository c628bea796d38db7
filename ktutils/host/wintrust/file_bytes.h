#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ktutils::detail {

// A file's bytes, read once into private anonymous memory that nothing
// zero-fills or copies beforehand. The memory asks for huge pages: a freshly
// started verifier otherwise spends more time faulting in 4 KiB pages than
// hashing them. Not a mapping of the file itself, which would turn a file
// truncated during the check into SIGBUS in the caller's process.
class FileBytes {
public:
    FileBytes() = default;
    explicit FileBytes(std::size_t capacity);  // throws std::bad_alloc
    FileBytes(FileBytes&& other) noexcept;
    FileBytes& operator=(FileBytes&& other) noexcept;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes();

    std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    void SetSize(std::size_t size) { m_size = size; }

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;  // of the mapping
};

// The whole content of the regular file at `path`, or empty when it cannot be
// opened or read, or is not a regular file (a directory, a device, a pipe).
// Throws std::bad_alloc when no memory can hold it.
std::optional<FileBytes> ReadFileBytes(const std::string& path);

}  // namespace ktutils::detail
