#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ktutils/host/nq2/nq_buffer_error.h"
#include "ktutils/host/nq2/nq_byte_run.h"
#include "ktutils/nq2_export.h"

// Typed writes and reads over the bytes of one message.
//
// Writes append little-endian values to the message that NQMessageBuffer has
// opened; reads take values from the payload of the message that it has made
// current. This class knows nothing of framing: it only keeps to the windows
// that the derived class gives it, and it is the one place where received
// bytes are bounds-checked.
//
// Every operation is virtual so that a test can stand in for the buffer,
// record each call and fail any of them on purpose.
//
// Results: a write returns the number of bytes it appended, a read the number
// of bytes it consumed. A refusal never returns: it raises NQBufferError and
// leaves both the output and the read position as they were.
//
// Not thread-safe: one buffer belongs to one thread at a time.
class NQ2_EXPORT NQBaseBuffer {
public:
    virtual ~NQBaseBuffer();

    NQBaseBuffer(const NQBaseBuffer&) = delete;
    NQBaseBuffer& operator=(const NQBaseBuffer&) = delete;

    virtual uint32_t WriteU8(uint8_t value);
    virtual uint32_t WriteU16(uint16_t value);
    virtual uint32_t WriteU32(uint32_t value);
    // The text's bytes and its terminating zero. A null text is written as "".
    virtual uint32_t WriteString(const char* text);
    // Exactly `length` raw bytes; the length itself is not written, the reader
    // must know it.
    virtual uint32_t WriteData(const uint8_t* data, uint32_t length);

    virtual uint32_t ReadU8(uint8_t& value) const;
    virtual uint32_t ReadU16(uint16_t& value) const;
    virtual uint32_t ReadU32(uint32_t& value) const;
    // Hands out a zero-terminated text that lies wholly inside the payload.
    // The pointer stays valid until the next non-const call on the buffer.
    virtual uint32_t ReadString(const char*& text) const;
    // Hands out `length` bytes that lie wholly inside the payload, with the
    // same lifetime as ReadString's text.
    virtual uint32_t ReadData(const uint8_t*& data, uint32_t length) const;

protected:
    NQBaseBuffer() = default;

    // Write window, kept by NQMessageBuffer: typed writes append to out_ while
    // write_open_ is set, and never let out_ grow past write_limit_ bytes.
    ktutils::detail::NQByteRun out_;
    std::size_t write_limit_ = 0;
    bool write_open_ = false;
    // Recomputes the room that typed writes may fill with one check each;
    // called whenever the three fields above change.
    void UpdateWriteRoom() noexcept;

    // Read window, kept by NQMessageBuffer: the unread payload of the current
    // message is in_[read_pos_, read_end_). Empty when there is none.
    std::vector<uint8_t> in_;
    mutable std::size_t read_pos_ = 0;
    std::size_t read_end_ = 0;

private:
    // Bytes the open message may still take without passing its limit or
    // growing the output: 0 when no message is open.
    std::size_t write_room_ = 0;

    void Append(const uint8_t* bytes, std::size_t count);
#if defined(__GNUC__)
    __attribute__((noinline))
#endif
    void AppendSlow(const uint8_t* bytes, std::size_t count);
    const uint8_t* Consume(std::size_t count) const;
};
