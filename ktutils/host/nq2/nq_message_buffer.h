#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ktutils/host/nq2/nq_base_buffer.h"
#include "ktutils/nq2_export.h"

// A message buffer of the network kernel: it frames messages for sending and
// cuts a received byte stream back into messages. docs/wire-format.md gives
// the layout of a frame.
//
// Sending: BeginWriteMsg opens a message, the typed writes of NQBaseBuffer
// fill its payload, EndWriteMsg seals it; CancelMsg drops the open message
// and leaves the buffer as it was before BeginWriteMsg. OutputSize and
// OutputData show the sealed messages; TakeOutput hands them over for sending.
//
// Receiving: Receive appends bytes as the socket delivers them, in pieces of
// any size. NextMsg makes the next complete message current (skipping what
// was left unread of the one before); its type is then known and the typed
// reads consume its payload. A message whose bytes have not all arrived is
// never made current.
class NQ2_EXPORT NQMessageBuffer : public NQBaseBuffer {
public:
    // payload length (u32) + type (u16) + channel (u8) + form (u8)
    static constexpr uint32_t kHeaderSize = 8;
    // The largest payload a message may carry, on either side. A received
    // header that declares more is refused before anything is allocated.
    static constexpr uint32_t kMaxPayloadSize = 64 * 1024;
    // Sealed output that a buffer holds before it refuses to open another
    // message; the owner sends (TakeOutput) to make room.
    static constexpr std::size_t kDefaultOutputCapacity = 4 * 1024 * 1024;

    // The form byte of a header tells which opening call wrote the message.
    enum class Form : uint8_t {
        Session = 0,    // BeginWriteMsg(channel, type)
        Discovery = 1,  // BeginWriteMsg(type): no channel, no connection yet
    };

    explicit NQMessageBuffer(std::size_t outputCapacity = kDefaultOutputCapacity);
    ~NQMessageBuffer() override;

    // Opens a message of `type` on `channel`. Returns kHeaderSize, or 0 and
    // changes nothing when a message is already open or the output has no
    // room for another message.
    virtual uint32_t BeginWriteMsg(uint8_t channel, uint16_t type);
    // Opens a connectionless (discovery) message: channel 0, form Discovery.
    virtual uint32_t BeginWriteMsg(uint16_t type);
    // Seals the open message with its payload length; returns its whole size
    // in bytes. Raises NQBufferError when no message is open.
    virtual uint32_t EndWriteMsg();
    // Drops the open message, if any. Harmless when none is open.
    virtual void CancelMsg();
    // Non-zero exactly while the current received message has unread payload.
    virtual int CurrentMsg() const;

    bool IsWriting() const noexcept { return write_open_; }
    // The sealed messages, ready to send; an open message is not included.
    std::size_t OutputSize() const noexcept { return sealed_size_; }
    const uint8_t* OutputData() const noexcept { return out_.data(); }
    // Removes and returns the sealed messages; an open message stays open.
    std::vector<uint8_t> TakeOutput();

    // Appends received bytes. Invalidates texts and blocks handed out before.
    void Receive(const void* bytes, std::size_t count);
    // Makes the next complete received message current and returns true, or
    // returns false when no whole message is waiting (nothing is current
    // then). Raises NQBufferError when the next header is malformed or
    // declares a payload above kMaxPayloadSize: the stream cannot be trusted
    // past that point, and the caller should drop the connection.
    bool NextMsg();
    bool HasMsg() const noexcept { return has_msg_; }
    // Header fields of the current message; 0 when there is none.
    uint16_t MsgType() const noexcept { return has_msg_ ? msg_type_ : 0; }
    uint8_t MsgChannel() const noexcept { return has_msg_ ? msg_channel_ : 0; }
    Form MsgForm() const noexcept { return has_msg_ ? msg_form_ : Form::Session; }
    // Offset in the received stream of the current message's header; after
    // a refusal by NextMsg, the offset of the header that was refused.
    uint64_t MsgOffset() const noexcept { return msg_offset_; }
    // Received bytes not yet consumed by NextMsg (a partial message, or
    // messages not walked yet), the current message excluded.
    std::size_t PendingInput() const noexcept { return in_.size() - read_end_; }

private:
    uint32_t Open(uint8_t channel, uint16_t type, Form form);

    std::size_t capacity_;
    std::size_t sealed_size_ = 0;  // out_[0, sealed_size_) holds sealed messages
    std::size_t open_start_ = 0;   // header of the open message, when one is open

    std::size_t msg_start_ = 0;  // header of the current message in in_
    bool has_msg_ = false;
    uint16_t msg_type_ = 0;
    uint8_t msg_channel_ = 0;
    Form msg_form_ = Form::Session;
    uint64_t msg_offset_ = 0;
    uint64_t stream_offset_ = 0;  // stream offset of in_[0]
};
