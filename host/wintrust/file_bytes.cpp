#include "host/wintrust/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ktutils::detail {
namespace {

// A PE image's offsets are 32-bit, so nothing larger can be one.
constexpr std::uint64_t kLargestImage = 0xFFFFFFFFull;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

std::optional<FileBytes> ReadFileBytes(const std::string& path) {
    // O_NONBLOCK so that opening a FIFO cannot hang the caller; the file
    // type is checked on the open descriptor, not on the name.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    // Read as no bytes at all, which is not an image either.
    if (static_cast<std::uint64_t>(st.st_size) > kLargestImage) return FileBytes{};

    FileBytes bytes;
    // new[] without an initialiser leaves the bytes as they are: every one
    // that is kept is written by read() below.
    const auto capacity = static_cast<std::size_t>(st.st_size);
    bytes.data.reset(new std::uint8_t[capacity == 0 ? 1 : capacity]);
    while (bytes.size < capacity) {
        const ssize_t got = ::read(file.Get(), bytes.data.get() + bytes.size, capacity - bytes.size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;  // the file shrank while being read
        bytes.size += static_cast<std::size_t>(got);
    }
    return bytes;
}

}  // namespace ktutils::detail
