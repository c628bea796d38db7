#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ktutils/host/nq2/nq_message_buffer.h"
#include "tools/text/decoded_message.h"
#include "tools/text/message_printer.h"
#include "tools/net/tcp_socket.h"

namespace ktutils::tool {

// One TCP connection that carries messages: received bytes go into a message
// buffer that cuts them into messages; messages to send are taken from the
// caller's buffer and queued. Every message, sent or received, is decoded
// and printed as it passes, so the log shows exactly what was on the wire;
// without a printer nothing is printed, and nothing is decoded for it.
class MessageConnection {
public:
    using Clock = std::chrono::steady_clock;

    // `peer` numbers the lines of a server's clients; 0 prints no number.
    MessageConnection(TcpSocket socket, MessagePrinter* printer, unsigned peer = 0);

    const TcpSocket& Socket() const noexcept { return socket_; }

    // Called with the bytes of every send and receive as they pass the
    // socket (`sent` tells which), for a capture of the exchange.
    using Tap = std::function<void(bool sent, const uint8_t* bytes, std::size_t size)>;
    void SetTap(Tap tap) { tap_ = std::move(tap); }

    // Takes every sealed message out of `out` and queues it for sending.
    void Send(NQMessageBuffer& out);
    // Queues whole messages made before, such as an answer kept for reuse.
    void Send(const std::vector<uint8_t>& messages);
    bool HasUnsent() const noexcept { return unsent_ != 0; }
    std::size_t UnsentSize() const noexcept { return unsent_; }
    // Memory held for the peer: the queue's, sent or not, and the received
    // bytes' since they were last all taken. What a bound on memory counts.
    std::size_t HeldMemory() const noexcept { return queueMemory_ + receivedPeak_; }
    // Bytes the socket has taken so far: the peer's progress.
    uint64_t SentTotal() const noexcept { return sentTotal_; }
    // Writes as much of the queue as the socket takes now.
    void Flush();
    // Forgets what is still queued, for a connection that is being dropped.
    void Abandon() noexcept;

    // One read of up to `most` bytes (kReadSize at most): how many came, 0
    // when none were waiting, -1 once the peer has closed.
    static constexpr std::size_t kReadSize = 64 * 1024;
    long Fill(std::size_t most = kReadSize);
    // Received bytes not taken as messages yet: at most one partial frame
    // when Next is called until it gives none.
    std::size_t PendingInput() const noexcept { return received_->PendingInput(); }
    // The next whole received message, decoded and printed; none when no
    // whole message is waiting. Raises NQBufferError on a malformed stream.
    std::optional<DecodedMessage> Next();

    // For a client's step-by-step exchange: sends what is queued and waits
    // for the next message until `deadline`. Raises SocketError when the
    // peer closes or the deadline passes first.
    DecodedMessage Await(Clock::time_point deadline);
    // Sends what is queued, waiting until `deadline` at most.
    void Drain(Clock::time_point deadline);

private:
    void WaitReady(short events, Clock::time_point deadline);
    void Queue(const uint8_t* bytes, std::size_t size);

    TcpSocket socket_;
    MessagePrinter* printer_;
    unsigned peer_;
    // Replaced by a fresh one once a burst has been taken, so that its
    // memory goes back; offsets then count on from receivedBase_.
    std::unique_ptr<NQMessageBuffer> received_ = std::make_unique<NQMessageBuffer>();
    uint64_t receivedBase_ = 0;
    std::size_t receivedPeak_ = 0;  // the most received bytes held since the last fresh one
    NQMessageBuffer sentLog_;  // the sent bytes again, to print them as decoded
    // The bytes queued, in blocks of kQueueBlock at most, so that a long
    // queue is never copied to grow and its memory is what it holds; the
    // first `sentOfFirst_` bytes of the first block have gone out.
    static constexpr std::size_t kQueueBlock = 64 * 1024;
    std::deque<std::vector<uint8_t>> queue_;
    std::size_t sentOfFirst_ = 0;
    std::size_t unsent_ = 0;
    std::size_t queueMemory_ = 0;  // the blocks' capacities
    uint64_t sentTotal_ = 0;
    bool closed_ = false;
    Tap tap_;
};

}  // namespace ktutils::tool
