// Mode: write-corrupt-read. The input's first bytes pick one of the twelve
// payload messages and a damage (a flipped byte anywhere in the frame, or a
// payload cut short); the rest supplies the message's arguments. The message
// is encoded through the real buffer and must decode to exactly what was
// written; then it is damaged, and its decoder must answer 0 or 1 without a
// fault, and on 1 hand out values that re-encode to the bytes it consumed.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/reencode_check.h"
#include "tests/support/byte_source.h"
#include "tests/support/payload_codecs.h"

using namespace ktutils::detail;

namespace {

constexpr std::size_t kHeader = NQMessageBuffer::kHeaderSize;

uint32_t DeclaredLength(const std::vector<uint8_t>& frame) {
    return static_cast<uint32_t>(frame[0]) | (static_cast<uint32_t>(frame[1]) << 8) |
           (static_cast<uint32_t>(frame[2]) << 16) | (static_cast<uint32_t>(frame[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    ByteSource source(data, size);
    const PayloadCodec& codec = PayloadCodecs()[source.U8() % kPayloadCodecCount];
    const bool cut = (source.U8() & 1) != 0;
    const uint16_t position = source.U16();
    const uint8_t mask = source.U8();

    MessageValues written;
    codec.draw(source, written);
    NQMessageBuffer out;
    // Drawn texts and lists are capped well inside the payload limit.
    KTUTILS_FUZZ_CHECK(codec.write(out, written) == 1);
    std::vector<uint8_t> frame = out.TakeOutput();
    KTUTILS_FUZZ_CHECK(frame.size() == kHeader + DeclaredLength(frame));

    {
        NQMessageBuffer in;
        in.Receive(frame.data(), frame.size());
        KTUTILS_FUZZ_CHECK(in.NextMsg());
        KTUTILS_FUZZ_CHECK(in.MsgType() == codec.type);
        MessageValues read;
        KTUTILS_FUZZ_CHECK(codec.read(in, read) == 1);
        KTUTILS_FUZZ_CHECK(read == written);
        KTUTILS_FUZZ_CHECK(in.CurrentMsg() == 0);
    }

    if (cut) {
        const std::size_t payload = frame.size() - kHeader;
        if (payload == 0) return 0;
        const uint32_t kept = static_cast<uint32_t>(position % payload);  // always shorter
        frame.resize(kHeader + kept);
        for (int i = 0; i < 4; ++i) frame[i] = static_cast<uint8_t>(kept >> (8 * i));
    } else {
        frame[position % frame.size()] ^= mask != 0 ? mask : 0x80;
    }

    NQMessageBuffer in;
    in.Receive(frame.data(), frame.size());
    try {
        // A damaged header may declare more than arrived, or be refused.
        if (!in.NextMsg()) return 0;
    } catch (const NQBufferError&) {
        return 0;
    }
    MessageValues damaged;
    const int result = codec.read(in, damaged);
    KTUTILS_FUZZ_CHECK(result == 0 || result == 1);
    if (result == 1) {
        CheckReencodesToConsumedBytes(codec, damaged, in, frame.data() + kHeader,
                                      DeclaredLength(frame));
    }
    return 0;
}
