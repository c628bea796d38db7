// Mode: raw bytes as a received stream, delivered in pieces and read between deliveries in amounts that a few seeds and
// the first byte pick. Piece by piece it must give exactly the messages (header fields and payload) and the end (refusal
// or unconsumed tail) that it gives whole, every byte accounted for: frames back to back from 0, then that end.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "ktutils/host/nq2/nq_message_buffer.h"

// Whole for a negative seed, else pieces and reads of 1 to a few hundred bytes (an LCG's choice).
static std::string Walk(const uint8_t* data, std::size_t size, int seed) {
    uint32_t state = static_cast<uint32_t>(seed) * 2654435761u + 1;
    const auto step = [&]() -> std::size_t {
        state = state * 1103515245u + 12345u;
        return seed < 0 ? SIZE_MAX : 1 + (state >> 16) % (1u + static_cast<uint32_t>(seed) % 97u * 3u);
    };
    NQMessageBuffer in;
    std::string trace;      // header fields and payload bytes of every message, in order
    uint64_t next = 0;      // where the next frame must start
    std::size_t taken = 0;  // payload bytes read of the current message
    try {
        for (std::size_t at = 0; at < size;) {
            const std::size_t piece = std::min(step(), size - at);
            in.Receive(data + at, piece);
            at += piece;
            // Takes every message complete so far, reading at most `budget` payload bytes.
            for (std::size_t budget = at < size ? step() : SIZE_MAX;;) {
                if (in.HasMsg()) {
                    for (const uint8_t* byte = nullptr; in.CurrentMsg() != 0 && budget != 0; --budget, ++taken) {
                        in.ReadData(byte, 1);
                        trace += static_cast<char>(*byte);
                    }
                    if (in.CurrentMsg() != 0) break;
                    KTUTILS_FUZZ_CHECK(taken <= NQMessageBuffer::kMaxPayloadSize);
                    next += NQMessageBuffer::kHeaderSize + taken;
                    taken = 0;
                }
                if (!in.NextMsg()) break;
                KTUTILS_FUZZ_CHECK(in.MsgOffset() == next);
                trace += "|" + std::to_string(in.MsgType()) + "," + std::to_string(in.MsgChannel()) + "," +
                         std::to_string(static_cast<int>(in.MsgForm())) + ":";
            }
        }
    } catch (const NQBufferError& e) {
        KTUTILS_FUZZ_CHECK(in.MsgOffset() == next);
        return trace + "|refused " + std::to_string(static_cast<int>(e.kind()));
    }
    KTUTILS_FUZZ_CHECK(next + in.PendingInput() == size);
    return trace + "|pending " + std::to_string(in.PendingInput());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string whole = Walk(data, size, -1);
    for (int seed : {1, 7, 200, size != 0 ? data[0] : 0}) KTUTILS_FUZZ_CHECK(Walk(data, size, seed) == whole);
    return 0;
}
