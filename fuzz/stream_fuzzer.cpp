// Mode: raw bytes into the buffer's stream parser, delivered in pieces. The
// first input byte seeds the piece sizes and how much of each message is read
// between deliveries; the rest is the received stream. Walked piece by piece,
// with reads interleaved with Receive, the stream must yield exactly the
// messages (offset, header fields, payload bytes) and the same end (the same
// refusal at the same offset, or the same unconsumed tail) as when it arrives
// in one piece and is read message by message.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "ktutils/host/nq2/nq_message_buffer.h"

namespace {

struct Frame {
    uint64_t offset = 0;
    uint16_t type = 0;
    uint8_t channel = 0;
    NQMessageBuffer::Form form = NQMessageBuffer::Form::Session;
    std::vector<uint8_t> payload;

    bool operator==(const Frame& o) const {
        return offset == o.offset && type == o.type && channel == o.channel && form == o.form &&
               payload == o.payload;
    }
};

struct Walk {
    std::vector<Frame> frames;
    std::optional<NQBufferError::Kind> refusal;
    uint64_t refusedAt = 0;
    std::size_t pending = 0;  // unconsumed tail; left 0 after a refusal

    bool operator==(const Walk& o) const {
        return frames == o.frames && refusal == o.refusal && refusedAt == o.refusedAt &&
               pending == o.pending;
    }
};

// Piece sizes and read amounts from a small linear congruential generator:
// deterministic per input, and reaching sizes from 1 byte to a few hundred.
class Steps {
public:
    explicit Steps(uint8_t seed) : state_(seed * 2654435761u + 1), max_(1u + seed % 97u * 3u) {}
    std::size_t Next() {
        state_ = state_ * 1103515245u + 12345u;
        return 1 + (state_ >> 16) % max_;
    }

private:
    uint32_t state_;
    uint32_t max_;
};

// Reads up to `budget` payload bytes of the current message, through the
// buffer's block read, into `frame`.
void ReadPayload(const NQMessageBuffer& in, Frame& frame, std::size_t budget) {
    while (in.CurrentMsg() != 0 && budget != 0) {
        const uint8_t* bytes = nullptr;
        in.ReadData(bytes, 1);
        frame.payload.push_back(*bytes);
        --budget;
    }
}

Frame StartFrame(const NQMessageBuffer& in) {
    Frame frame;
    frame.offset = in.MsgOffset();
    frame.type = in.MsgType();
    frame.channel = in.MsgChannel();
    frame.form = in.MsgForm();
    return frame;
}

// Takes every message that is complete so far; the current one is read only
// up to `budget` bytes, the rest after the next delivery.
void TakeMessages(NQMessageBuffer& in, Walk& walk, std::size_t budget) {
    for (;;) {
        if (in.HasMsg()) {
            ReadPayload(in, walk.frames.back(), budget);
            if (in.CurrentMsg() != 0) return;
        }
        if (!in.NextMsg()) return;
        walk.frames.push_back(StartFrame(in));
    }
}

Walk WalkWhole(const uint8_t* data, std::size_t size) {
    Walk walk;
    NQMessageBuffer in;
    try {
        in.Receive(data, size);
        TakeMessages(in, walk, SIZE_MAX);
    } catch (const NQBufferError& e) {
        walk.refusal = e.kind();
        walk.refusedAt = in.MsgOffset();
        return walk;
    }
    walk.pending = in.PendingInput();
    return walk;
}

Walk WalkInPieces(const uint8_t* data, std::size_t size, Steps steps) {
    Walk walk;
    NQMessageBuffer in;
    try {
        for (std::size_t at = 0; at < size;) {
            const std::size_t piece = std::min(steps.Next(), size - at);
            in.Receive(data + at, piece);
            at += piece;
            TakeMessages(in, walk, at < size ? steps.Next() : SIZE_MAX);
        }
    } catch (const NQBufferError& e) {
        walk.refusal = e.kind();
        walk.refusedAt = in.MsgOffset();
        return walk;
    }
    walk.pending = in.PendingInput();
    return walk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const Steps steps(data[0]);
    const Walk whole = WalkWhole(data + 1, size - 1);
    const Walk pieces = WalkInPieces(data + 1, size - 1, steps);
    KTUTILS_FUZZ_CHECK(pieces == whole);

    // Every byte is accounted for: frames back to back from offset 0, then
    // the refused header or the unconsumed tail.
    uint64_t next = 0;
    for (const Frame& frame : whole.frames) {
        KTUTILS_FUZZ_CHECK(frame.offset == next);
        KTUTILS_FUZZ_CHECK(frame.payload.size() <= NQMessageBuffer::kMaxPayloadSize);
        next += NQMessageBuffer::kHeaderSize + frame.payload.size();
    }
    if (whole.refusal) {
        KTUTILS_FUZZ_CHECK(whole.refusedAt == next);
    } else {
        KTUTILS_FUZZ_CHECK(next + whole.pending == size - 1);
    }
    return 0;
}
