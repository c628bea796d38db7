// Mode: raw frames into the decoders: the type (bytes 4-5; without a decoder, byte 4 modulo twelve)
// picks one, the bytes after the 8-byte header are its payload. It must answer 0 or 1 without a fault,
// the same way twice, and on 1 give values that re-encode to exactly the bytes it consumed.
#include "fuzz/fuzz_check.h"
#include "tests/support/payload_codecs.h"

using namespace ktutils::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 8 || size - 8 > NQMessageBuffer::kMaxPayloadSize) return 0;
    const PayloadCodec* known = PayloadCodecOf(static_cast<uint16_t>(data[4] | data[5] << 8));
    const PayloadCodec& codec = known != nullptr ? *known : PayloadCodecs()[data[4] % kPayloadCodecCount];
    const std::vector<uint8_t> payload(data + 8, data + size);
    int results[2] = {};
    MessageValues values[2];
    for (int pass = 0; pass < 2; ++pass) {
        NQMessageBuffer in;
        KTUTILS_FUZZ_CHECK(Deliver(in, codec.type, payload));
        results[pass] = codec.read(in, values[pass]);
        KTUTILS_FUZZ_CHECK(results[pass] == 0 || (results[pass] == 1 && ReencodesToConsumedBytes(codec, values[pass], in, payload)));
    }
    // Nothing may depend on memory the decoder did not write.
    KTUTILS_FUZZ_CHECK(results[0] == results[1] && values[0] == values[1]);
    NQMessageBuffer in;  // described: as damaged as the decoder says, and on one line whatever its texts hold
    KTUTILS_FUZZ_CHECK(Deliver(in, codec.type, payload));
    const ktutils::MessageDescription d = ktutils::DescribeMessage(in);
    KTUTILS_FUZZ_CHECK(d.damaged == (results[0] == 0) && ToText(d).find('\n') == std::string::npos && ToJson(d).back() == '}');
    return 0;
}
