#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace ktutils::detail {

// The buffer's output bytes. Typed writes append a few bytes at a time, tens
// of times per message: here that is a capacity check and a copy of a
// constant size, which the compiler turns into one store, where a
// std::vector range insert costs a call and a memmove each time.
class NQByteRun {
public:
    NQByteRun() = default;
    NQByteRun(const NQByteRun&) = delete;
    NQByteRun& operator=(const NQByteRun&) = delete;

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    const uint8_t* data() const noexcept { return bytes_.get(); }
    uint8_t* data() noexcept { return bytes_.get(); }

    bool HasRoom(std::size_t count) const noexcept { return count <= capacity_ - size_; }
    // Only after HasRoom(count).
    void AppendInRoom(const uint8_t* bytes, std::size_t count) noexcept {
        std::memcpy(bytes_.get() + size_, bytes, count);
        size_ += count;
    }

    void Append(const uint8_t* bytes, std::size_t count) {
        if (count == 0) return;
        if (count > capacity_ - size_) Grow(size_ + count);
        std::memcpy(bytes_.get() + size_, bytes, count);
        size_ += count;
    }

    // Drops the bytes from `size` on; `size` is at most size().
    void Truncate(std::size_t size) noexcept { size_ = std::min(size, size_); }

    // Drops the first `count` bytes (at most size()), keeping the rest and
    // the capacity.
    void EraseFront(std::size_t count) noexcept {
        count = std::min(count, size_);
        if (count == 0) return;
        std::memmove(bytes_.get(), bytes_.get() + count, size_ - count);
        size_ -= count;
    }

private:
    // Out of line: inlined, its registers would cost every append a
    // prologue and an epilogue.
#if defined(__GNUC__)
    __attribute__((noinline))
#endif
    void Grow(std::size_t needed) {
        // Doubling keeps appends amortised constant; 256 bytes holds a
        // handshake without a second growth.
        const std::size_t capacity = std::max({needed, capacity_ * 2, std::size_t{256}});
        std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity]);
        if (size_ != 0) std::memcpy(grown.get(), bytes_.get(), size_);
        bytes_ = std::move(grown);
        capacity_ = capacity;
    }

    std::unique_ptr<uint8_t[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace ktutils::detail
