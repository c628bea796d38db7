#include "ktutils/host/nq2/nq_base_buffer.h"

#include <algorithm>
#include <cstring>

NQBaseBuffer::~NQBaseBuffer() = default;

// The good path alone, with nothing to save: the checks, one store, and
// the refusals and growth out of line.
inline void NQBaseBuffer::Append(const uint8_t* bytes, std::size_t count) {
    if (count <= write_room_) {
        out_.AppendInRoom(bytes, count);
        write_room_ -= count;
        return;
    }
    AppendSlow(bytes, count);
}

void NQBaseBuffer::UpdateWriteRoom() noexcept {
    write_room_ = write_open_ ? std::min(write_limit_, out_.capacity()) - out_.size() : 0;
}

void NQBaseBuffer::AppendSlow(const uint8_t* bytes, std::size_t count) {
    if (!write_open_) {
        throw NQBufferError(NQBufferError::Kind::NoOpenMessage,
                            "nq2: write without an open message");
    }
    if (count > write_limit_ - out_.size()) {
        throw NQBufferError(NQBufferError::Kind::MessageTooLarge,
                            "nq2: write would pass the message size limit");
    }
    out_.Append(bytes, count);
    UpdateWriteRoom();
}

const uint8_t* NQBaseBuffer::Consume(std::size_t count) const {
    if (count > read_end_ - read_pos_) {
        throw NQBufferError(NQBufferError::Kind::ReadPastEnd,
                            "nq2: read past the end of the message");
    }
    const uint8_t* at = in_.data() + read_pos_;
    read_pos_ += count;
    return at;
}

// Values go out least significant byte first whatever the host's order, so
// both ends agree without knowing each other's.
uint32_t NQBaseBuffer::WriteU8(uint8_t value) {
    Append(&value, 1);
    return 1;
}

uint32_t NQBaseBuffer::WriteU16(uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    Append(bytes, sizeof bytes);
    return sizeof bytes;
}

uint32_t NQBaseBuffer::WriteU32(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Append(bytes, sizeof bytes);
    return sizeof bytes;
}

uint32_t NQBaseBuffer::WriteString(const char* text) {
    if (text == nullptr) text = "";
    const std::size_t size = std::strlen(text) + 1;  // the terminator travels too
    Append(reinterpret_cast<const uint8_t*>(text), size);
    return static_cast<uint32_t>(size);
}

uint32_t NQBaseBuffer::WriteData(const uint8_t* data, uint32_t length) {
    if (data == nullptr && length != 0) {
        throw NQBufferError(NQBufferError::Kind::InvalidArgument,
                            "nq2: null block with a non-zero length");
    }
    if (length != 0) Append(data, length);
    return length;
}

uint32_t NQBaseBuffer::ReadU8(uint8_t& value) const {
    value = *Consume(1);
    return 1;
}

uint32_t NQBaseBuffer::ReadU16(uint16_t& value) const {
    const uint8_t* b = Consume(2);
    value = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return 2;
}

uint32_t NQBaseBuffer::ReadU32(uint32_t& value) const {
    const uint8_t* b = Consume(4);
    value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
            (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return 4;
}

uint32_t NQBaseBuffer::ReadString(const char*& text) const {
    const std::size_t left = read_end_ - read_pos_;
    const void* zero = left ? std::memchr(in_.data() + read_pos_, 0, left) : nullptr;
    if (zero == nullptr) {
        throw NQBufferError(NQBufferError::Kind::UnterminatedString,
                            "nq2: text without its terminator inside the message");
    }
    const std::size_t size =
        static_cast<std::size_t>(static_cast<const uint8_t*>(zero) - (in_.data() + read_pos_)) + 1;
    text = reinterpret_cast<const char*>(Consume(size));
    return static_cast<uint32_t>(size);
}

uint32_t NQBaseBuffer::ReadData(const uint8_t*& data, uint32_t length) const {
    data = Consume(length);
    return length;
}
