#include "ktutils/host/wintrust/file_bytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

namespace ktutils::detail {
namespace {

// A PE image's offsets are 32-bit, so nothing larger can be one.
constexpr std::uint64_t kLargestImage = 0xFFFFFFFFull;
constexpr std::size_t kHugePage = 2u << 20;

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

FileBytes::FileBytes(std::size_t capacity) {
    if (capacity == 0) return;
    // Whole huge pages, so that the last one can be one too.
    const std::size_t rounded = (capacity + kHugePage - 1) / kHugePage * kHugePage;
    void* mapping = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) throw std::bad_alloc();
    ::madvise(mapping, rounded, MADV_HUGEPAGE);  // advice only: where refused, 4 KiB pages serve
    m_data = static_cast<std::uint8_t*>(mapping);
    m_capacity = rounded;
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
    return *this;
}

FileBytes::~FileBytes() {
    if (m_data != nullptr) ::munmap(m_data, m_capacity);
}

std::optional<FileBytes> ReadFileBytes(const std::string& path) {
    // O_NONBLOCK so that opening a FIFO cannot hang the caller; the file
    // type is checked on the open descriptor, not on the name.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    // Read as no bytes at all, which is not an image either.
    if (static_cast<std::uint64_t>(st.st_size) > kLargestImage) return FileBytes{};

    FileBytes bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(st.st_size)) {
        const ssize_t got = ::read(file.Get(), bytes.data() + done, static_cast<std::size_t>(st.st_size) - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;  // the file shrank while being read
        done += static_cast<std::size_t>(got);
    }
    bytes.SetSize(done);
    return bytes;
}

}  // namespace ktutils::detail
