// Mode: write-corrupt-read. The input is read as a frame, as by the decoders harness; the values its
// decoder leaves (those before a failing read, too), written through the real buffer, must decode to
// exactly what was written. Damaged as a hash of the input picks (its payload cut short, or a byte
// flipped), the frame must decode to 0 or 1, and on 1 to values that re-encode to the bytes read.
#include "fuzz/fuzz_check.h"
#include "tests/support/payload_codecs.h"

using namespace ktutils::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = NQMessageBuffer::kHeaderSize;
    if (size < kHeader || size > 4096) return 0;  // written again, well inside the payload limit
    const PayloadCodec* known = PayloadCodecOf(static_cast<uint16_t>(data[4] | data[5] << 8));
    const PayloadCodec& codec = known != nullptr ? *known : PayloadCodecs()[data[4] % kPayloadCodecCount];
    MessageValues written, read, damaged;
    NQMessageBuffer source, in, out;
    if (Deliver(source, codec.type, std::vector<uint8_t>(data + kHeader, data + size))) codec.read(source, written);
    std::vector<uint8_t> frame = Encode(codec, written);
    KTUTILS_FUZZ_CHECK(frame.size() >= kHeader);
    in.Receive(frame.data(), frame.size());
    KTUTILS_FUZZ_CHECK(in.NextMsg() && in.MsgType() == codec.type);
    KTUTILS_FUZZ_CHECK(codec.read(in, read) == 1 && read == written && in.CurrentMsg() == 0);

    uint32_t hash = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    if ((hash & 1) != 0 && frame.size() > kHeader) {
        const auto kept = static_cast<uint32_t>((hash >> 8) % (frame.size() - kHeader));
        frame.resize(kHeader + kept);
        for (int i = 0; i < 4; ++i) frame[i] = static_cast<uint8_t>(kept >> (8 * i));
    } else {
        frame[(hash >> 8) % frame.size()] ^= static_cast<uint8_t>(hash >> 1) | 1;
    }
    out.Receive(frame.data(), frame.size());
    // A damaged header may declare more than arrived, or be refused.
    try { if (!out.NextMsg()) return 0; } catch (const NQBufferError&) { return 0; }
    const uint32_t declared = frame[0] | frame[1] << 8 | frame[2] << 16 | static_cast<uint32_t>(frame[3]) << 24;
    const std::vector<uint8_t> payload(frame.begin() + kHeader, frame.begin() + kHeader + declared);
    const int result = codec.read(out, damaged);
    KTUTILS_FUZZ_CHECK(result == 0 || (result == 1 && ReencodesToConsumedBytes(codec, damaged, out, payload)));
    return 0;
}
