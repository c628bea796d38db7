#include "ktutils/host/nq2/nq_message_buffer.h"

#include <algorithm>

namespace {

constexpr std::size_t kLengthAt = 0;
constexpr std::size_t kTypeAt = 4;
constexpr std::size_t kChannelAt = 6;
constexpr std::size_t kFormAt = 7;

uint32_t LoadU32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void StoreU32(uint8_t* b, uint32_t v) {
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

// The class's constants, defined where the library is built so that a
// Windows program that binds one to a reference finds it exported from the
// DLL (an in-class constant alone is emitted only where it is used).
constexpr uint32_t NQMessageBuffer::kHeaderSize;
constexpr uint32_t NQMessageBuffer::kMaxPayloadSize;
constexpr std::size_t NQMessageBuffer::kDefaultOutputCapacity;

NQMessageBuffer::NQMessageBuffer(std::size_t outputCapacity) : capacity_(outputCapacity) {}

NQMessageBuffer::~NQMessageBuffer() = default;

uint32_t NQMessageBuffer::Open(uint8_t channel, uint16_t type, Form form) {
    if (write_open_ || capacity_ < kHeaderSize || capacity_ - kHeaderSize < out_.size()) {
        return 0;
    }
    const uint8_t header[kHeaderSize] = {
        0, 0, 0, 0,  // payload length, filled in by EndWriteMsg
        static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8),
        channel, static_cast<uint8_t>(form)};
    open_start_ = out_.size();
    out_.Append(header, kHeaderSize);
    write_limit_ = std::min(capacity_, out_.size() + kMaxPayloadSize);
    write_open_ = true;
    UpdateWriteRoom();
    return kHeaderSize;
}

uint32_t NQMessageBuffer::BeginWriteMsg(uint8_t channel, uint16_t type) {
    return Open(channel, type, Form::Session);
}

uint32_t NQMessageBuffer::BeginWriteMsg(uint16_t type) {
    return Open(0, type, Form::Discovery);
}

uint32_t NQMessageBuffer::EndWriteMsg() {
    if (!write_open_) {
        throw NQBufferError(NQBufferError::Kind::NoOpenMessage,
                            "nq2: EndWriteMsg without an open message");
    }
    const std::size_t size = out_.size() - open_start_;
    StoreU32(out_.data() + open_start_ + kLengthAt, static_cast<uint32_t>(size - kHeaderSize));
    sealed_size_ = out_.size();
    write_open_ = false;
    UpdateWriteRoom();
    return static_cast<uint32_t>(size);
}

void NQMessageBuffer::CancelMsg() {
    if (!write_open_) return;
    out_.Truncate(open_start_);
    write_open_ = false;
    UpdateWriteRoom();
}

int NQMessageBuffer::CurrentMsg() const {
    return has_msg_ && read_pos_ < read_end_ ? 1 : 0;
}

std::vector<uint8_t> NQMessageBuffer::TakeOutput() {
    std::vector<uint8_t> sealed(out_.data(), out_.data() + sealed_size_);
    out_.EraseFront(sealed_size_);
    if (write_open_) {
        open_start_ -= sealed_size_;
        write_limit_ = std::min(capacity_, open_start_ + kHeaderSize + kMaxPayloadSize);
    }
    sealed_size_ = 0;
    UpdateWriteRoom();
    return sealed;
}

void NQMessageBuffer::Receive(const void* bytes, std::size_t count) {
    if (count == 0) return;
    if (bytes == nullptr) {
        throw NQBufferError(NQBufferError::Kind::InvalidArgument,
                            "nq2: null bytes with a non-zero count");
    }
    // Drop the bytes already walked past, but only when they outweigh the
    // bytes kept: the copy then costs no more than what was consumed, so a
    // long stream received in many pieces stays linear.
    const std::size_t drop = has_msg_ ? msg_start_ : read_end_;
    if (drop > 0 && drop >= in_.size() - drop) {
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(drop));
        read_pos_ -= drop;
        read_end_ -= drop;
        msg_start_ -= has_msg_ ? drop : 0;
        stream_offset_ += drop;
    }
    const auto* b = static_cast<const uint8_t*>(bytes);
    in_.insert(in_.end(), b, b + count);
}

bool NQMessageBuffer::NextMsg() {
    // Whatever the reader left of the current message is skipped, so a reader
    // that stops early cannot throw the stream out of step.
    has_msg_ = false;
    const std::size_t at = read_end_;
    read_pos_ = at;
    msg_offset_ = stream_offset_ + at;
    if (in_.size() - at < kHeaderSize) return false;

    const uint8_t* h = in_.data() + at;
    const uint32_t length = LoadU32(h + kLengthAt);
    const uint8_t form = h[kFormAt];
    if (form > static_cast<uint8_t>(Form::Discovery) ||
        (form == static_cast<uint8_t>(Form::Discovery) && h[kChannelAt] != 0)) {
        throw NQBufferError(NQBufferError::Kind::MalformedHeader,
                            "nq2: malformed message header");
    }
    if (length > kMaxPayloadSize) {
        throw NQBufferError(NQBufferError::Kind::MessageTooLarge,
                            "nq2: declared payload above the size limit");
    }
    if (in_.size() - at - kHeaderSize < length) return false;

    msg_start_ = at;
    msg_type_ = static_cast<uint16_t>(h[kTypeAt] | (h[kTypeAt + 1] << 8));
    msg_channel_ = h[kChannelAt];
    msg_form_ = static_cast<Form>(form);
    read_pos_ = at + kHeaderSize;
    read_end_ = read_pos_ + length;
    has_msg_ = true;
    return true;
}
