#include "tools/net/message_connection.h"

#include <poll.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

namespace ktutils::tool {

MessageConnection::MessageConnection(TcpSocket socket, MessagePrinter* printer, unsigned peer)
    : socket_(std::move(socket)), printer_(printer), peer_(peer) {}

void MessageConnection::Send(NQMessageBuffer& out) {
    const std::vector<uint8_t> bytes = out.TakeOutput();
    if (printer_ != nullptr) {
        sentLog_.Receive(bytes.data(), bytes.size());
        while (sentLog_.NextMsg()) printer_->Print(DecodeCurrentMessage(sentLog_), "send", peer_);
    }
    // Keep the queue from growing without bound: drop what has gone out.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(unsent_));
    unsent_ = 0;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

void MessageConnection::Flush() {
    while (HasUnsent()) {
        const long sent = socket_.Send(pending_.data() + unsent_, pending_.size() - unsent_);
        if (sent == 0) return;
        if (tap_) tap_(true, pending_.data() + unsent_, static_cast<std::size_t>(sent));
        unsent_ += static_cast<std::size_t>(sent);
    }
}

long MessageConnection::Fill() {
    if (closed_) return -1;
    // Allocated at the first read: an array in static thread-local storage
    // would be zeroed at every start of the tool, whatever the command.
    static thread_local const std::unique_ptr<uint8_t[]> chunk(new uint8_t[kReadSize]);
    const long received = socket_.Receive(chunk.get(), kReadSize);
    if (received < 0) {
        closed_ = true;
    } else if (received > 0) {
        received_.Receive(chunk.get(), static_cast<std::size_t>(received));
        if (tap_) tap_(false, chunk.get(), static_cast<std::size_t>(received));
    }
    return received;
}

std::optional<DecodedMessage> MessageConnection::Next() {
    if (!received_.NextMsg()) return std::nullopt;
    DecodedMessage message = DecodeCurrentMessage(received_);
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
