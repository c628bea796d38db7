#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// One direction of a TCP connection, put back in order: segments are
// placed by sequence number, retransmitted bytes are dropped, segments that
// arrive early wait for the bytes before them. What cannot be filled is
// handed out as a gap. Offsets count payload bytes from the first byte
// after the SYN (or, without one, from the first segment seen).
namespace ktutils::tool {

class TcpStreamReassembler {
public:
    struct Sink {
        std::function<void(uint64_t offset, const uint8_t* data, std::size_t size)> data;
        std::function<void(uint64_t offset, uint64_t size)> gap;
    };

    // Bytes held for out-of-order segments before the oldest hole is given
    // up as a gap, so that a lost segment cannot make memory grow unbounded.
    static constexpr std::size_t kMaxEarlyBytes = 4 * 1024 * 1024;

    explicit TcpStreamReassembler(Sink sink) : sink_(std::move(sink)) {}

    // A SYN with this sequence number: the stream starts one after it.
    // Ignored once bytes have been placed.
    void Syn(uint32_t seq);
    bool SawSyn() const { return sawSyn_; }
    bool Started() const { return started_; }

    // A segment whose `captured` bytes are in `data`, of `length` bytes on
    // the wire; bytes the capture cut off become a gap at once.
    void Segment(uint32_t seq, const uint8_t* data, std::size_t captured, std::size_t length);
    // A FIN with this sequence number (the one after its payload): the
    // stream ends there.
    void Fin(uint32_t seq);
    // The FIN came and every byte before it was handed out.
    bool Ended() const { return finSeen_ && next_ >= fin_; }

    // The end of the capture: what still waits behind a hole is handed out
    // after a gap for the hole.
    void Finish();

private:
    uint64_t Unwrap(uint32_t seq) const;
    void Place(uint64_t offset, const uint8_t* data, std::size_t size);
    void Drain();
    void SkipToEarliest();

    Sink sink_;
    bool sawSyn_ = false;
    bool started_ = false;
    bool finSeen_ = false;
    uint64_t fin_ = 0;    // the offset where the FIN ends the stream
    uint32_t base_ = 0;   // the sequence number of offset 0
    uint64_t next_ = 0;   // the offset of the next byte to hand out
    std::map<uint64_t, std::vector<uint8_t>> early_;
    std::size_t earlyBytes_ = 0;
};

}  // namespace ktutils::tool
