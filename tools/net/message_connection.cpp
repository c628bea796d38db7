#include "tools/net/message_connection.h"

#include <poll.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

namespace ktutils::tool {

MessageConnection::MessageConnection(TcpSocket socket, MessagePrinter* printer, unsigned peer)
    : socket_(std::move(socket)), printer_(printer), peer_(peer) {}

namespace {

// A receive buffer all taken keeps this much memory for the next requests;
// more, left by a burst, is given back.
constexpr std::size_t kKeptInput = 8 * 1024;

}  // namespace

void MessageConnection::Send(NQMessageBuffer& out) {
    const std::vector<uint8_t> bytes = out.TakeOutput();
    Queue(bytes.data(), bytes.size());
}

void MessageConnection::Send(const std::vector<uint8_t>& messages) {
    Queue(messages.data(), messages.size());
}

void MessageConnection::Queue(const uint8_t* bytes, std::size_t size) {
    if (printer_ != nullptr) {
        sentLog_.Receive(bytes, size);
        while (sentLog_.NextMsg()) printer_->Print(DecodeCurrentMessage(sentLog_), "send", peer_);
    }
    unsent_ += size;
    while (size > 0) {
        if (queue_.empty() || queue_.back().size() == kQueueBlock) {
            queue_.emplace_back();
            // A block after a full one will be filled too: no growing.
            if (queue_.size() > 1) queue_.back().reserve(kQueueBlock);
            queueMemory_ += queue_.back().capacity();
        }
        std::vector<uint8_t>& block = queue_.back();
        const std::size_t take = std::min(size, kQueueBlock - block.size());
        queueMemory_ -= block.capacity();
        block.insert(block.end(), bytes, bytes + take);
        queueMemory_ += block.capacity();
        bytes += take;
        size -= take;
    }
}

void MessageConnection::Flush() {
    while (HasUnsent()) {
        const std::vector<uint8_t>& block = queue_.front();
        const uint8_t* start = block.data() + sentOfFirst_;
        const long sent = socket_.Send(start, block.size() - sentOfFirst_);
        if (sent == 0) return;
        if (tap_) tap_(true, start, static_cast<std::size_t>(sent));
        unsent_ -= static_cast<std::size_t>(sent);
        sentTotal_ += static_cast<uint64_t>(sent);
        sentOfFirst_ += static_cast<std::size_t>(sent);
        if (sentOfFirst_ == block.size()) {
            queueMemory_ -= block.capacity();
            queue_.pop_front();
            sentOfFirst_ = 0;
        }
    }
}

void MessageConnection::Abandon() noexcept {
    queue_.clear();
    sentOfFirst_ = 0;
    unsent_ = 0;
    queueMemory_ = 0;
}

long MessageConnection::Fill(std::size_t most) {
    if (closed_) return -1;
    // Allocated at the first read: an array in static thread-local storage
    // would be zeroed at every start of the tool, whatever the command.
    static thread_local const std::unique_ptr<uint8_t[]> chunk(new uint8_t[kReadSize]);
    const long received = socket_.Receive(chunk.get(), std::min(most, kReadSize));
    if (received < 0) {
        closed_ = true;
    } else if (received > 0) {
        received_->Receive(chunk.get(), static_cast<std::size_t>(received));
        receivedPeak_ = std::max(receivedPeak_, received_->PendingInput());
        if (tap_) tap_(false, chunk.get(), static_cast<std::size_t>(received));
    }
    return received;
}

std::optional<DecodedMessage> MessageConnection::Next() {
    if (!received_->NextMsg()) {
        if (received_->PendingInput() == 0 && receivedPeak_ > kKeptInput) {
            receivedBase_ += received_->MsgOffset();
            received_ = std::make_unique<NQMessageBuffer>();
            receivedPeak_ = 0;
        }
        return std::nullopt;
    }
    DecodedMessage message = DecodeCurrentMessage(*received_);
    message.offset += receivedBase_;
    if (printer_ != nullptr) printer_->Print(message, "recv", peer_);
    return message;
}

DecodedMessage MessageConnection::Await(Clock::time_point deadline) {
    for (;;) {
        if (auto message = Next()) return std::move(*message);
        if (closed_) throw SocketError("the peer closed the connection");
        Flush();
        WaitReady(HasUnsent() ? POLLIN | POLLOUT : POLLIN, deadline);
        Fill();
    }
}

void MessageConnection::Drain(Clock::time_point deadline) {
    Flush();
    while (HasUnsent()) {
        WaitReady(POLLOUT, deadline);
        Flush();
    }
}

void MessageConnection::WaitReady(short events, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{socket_.fd(), events, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) == 0) {
        throw SocketError("no answer from the peer in time");
    }
}

}  // namespace ktutils::tool
