// Mode: raw payloads into the decoders. The first input byte picks one of the
// twelve decoders, the rest is delivered as the payload of a message of its
// type. The decoder must answer 0 or 1 without a fault, the same way twice,
// and when it answers 1 the values it produced must re-encode to exactly the
// bytes it consumed.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/reencode_check.h"
#include "tests/support/payload_codecs.h"

using namespace ktutils::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1 || size - 1 > NQMessageBuffer::kMaxPayloadSize) return 0;
    const PayloadCodec& codec = PayloadCodecs()[data[0] % kPayloadCodecCount];
    const uint8_t* payload = data + 1;
    const std::size_t length = size - 1;

    std::vector<uint8_t> frame(NQMessageBuffer::kHeaderSize + length);
    PutHeader(frame.data(), static_cast<uint32_t>(length), codec.type);
    if (length != 0) std::copy(payload, payload + length, frame.begin() + NQMessageBuffer::kHeaderSize);

    int results[2] = {};
    MessageValues values[2];
    for (int pass = 0; pass < 2; ++pass) {
        NQMessageBuffer in;
        in.Receive(frame.data(), frame.size());
        KTUTILS_FUZZ_CHECK(in.NextMsg());
        KTUTILS_FUZZ_CHECK(in.MsgType() == codec.type);
        results[pass] = codec.read(in, values[pass]);
        KTUTILS_FUZZ_CHECK(results[pass] == 0 || results[pass] == 1);
        if (pass == 0 && results[pass] == 1) {
            CheckReencodesToConsumedBytes(codec, values[pass], in, payload, length);
        }
    }
    // Nothing may depend on memory the decoder did not write.
    KTUTILS_FUZZ_CHECK(results[0] == results[1]);
    KTUTILS_FUZZ_CHECK(values[0] == values[1]);
    return 0;
}
