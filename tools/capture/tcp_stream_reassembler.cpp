#include "tools/capture/tcp_stream_reassembler.h"

namespace ktutils::tool {

void TcpStreamReassembler::Syn(uint32_t seq) {
    if (started_) return;
    sawSyn_ = true;
    started_ = true;
    base_ = seq + 1;  // the SYN takes one sequence number and no byte
}

// Sequence numbers wrap at 2^32; the offset meant is the one nearest the
// next expected byte, which holds for any window below 2 GiB.
uint64_t TcpStreamReassembler::Unwrap(uint32_t seq) const {
    const uint32_t relative = seq - base_;
    const auto delta = static_cast<int32_t>(relative - static_cast<uint32_t>(next_));
    if (delta < 0 && static_cast<uint64_t>(-static_cast<int64_t>(delta)) > next_) return 0;
    return static_cast<uint64_t>(static_cast<int64_t>(next_) + delta);
}

void TcpStreamReassembler::Segment(uint32_t seq, const uint8_t* data, std::size_t captured,
                                   std::size_t length) {
    if (length == 0) return;
    if (!started_) {
        started_ = true;
        base_ = seq;
    }
    if (captured > length) captured = length;
    const uint64_t offset = Unwrap(seq);
    Place(offset, data, captured);
    if (captured < length) {
        // The snap length cut this segment: its tail is lost for good.
        const uint64_t end = offset + length;
        if (next_ == offset + captured && end > next_) {
            sink_.gap(next_, end - next_);
            next_ = end;
            Drain();
        }
    }
}

void TcpStreamReassembler::Fin(uint32_t seq) {
    if (!started_) {
        started_ = true;
        base_ = seq;
    }
    finSeen_ = true;
    fin_ = Unwrap(seq);
}

void TcpStreamReassembler::Place(uint64_t offset, const uint8_t* data, std::size_t size) {
    if (offset + size <= next_) return;  // a retransmission of bytes handed out
    if (offset < next_) {
        const auto skip = static_cast<std::size_t>(next_ - offset);
        data += skip;
        size -= skip;
        offset = next_;
    }
    if (offset == next_) {
        sink_.data(offset, data, size);
        next_ += size;
        Drain();
        return;
    }
    auto& slot = early_[offset];
    if (slot.size() < size) {
        earlyBytes_ += size - slot.size();
        slot.assign(data, data + size);
    }
    while (earlyBytes_ > kMaxEarlyBytes) SkipToEarliest();
}

// Hands out the waiting segments that now follow on.
void TcpStreamReassembler::Drain() {
    while (!early_.empty() && early_.begin()->first <= next_) {
        auto node = early_.extract(early_.begin());
        earlyBytes_ -= node.mapped().size();
        const uint64_t offset = node.key();
        const std::vector<uint8_t>& bytes = node.mapped();
        if (offset + bytes.size() > next_) {
            const auto skip = static_cast<std::size_t>(next_ - offset);
            sink_.data(next_, bytes.data() + skip, bytes.size() - skip);
            next_ = offset + bytes.size();
        }
    }
}

void TcpStreamReassembler::SkipToEarliest() {
    const uint64_t earliest = early_.begin()->first;
    sink_.gap(next_, earliest - next_);
    next_ = earliest;
    Drain();
}

void TcpStreamReassembler::Finish() {
    while (!early_.empty()) SkipToEarliest();
}

}  // namespace ktutils::tool
