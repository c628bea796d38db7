#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ktutils/ktutils.h"

// The twelve messages that carry a payload behind one signature, for the tests, fuzzers and benchmarks.
namespace ktutils::detail {

// Every value that any of the twelve payloads carries; a message uses only its own fields.
struct MessageValues {
    uint32_t challenge = 0;
    XString string1, string2;
    unsigned char block1[16] = {}, block2[16] = {};
    KTUVersion version;
    XList<KTUGuidVersion> guidVersions;
    XList<KTUModuleInfo> moduleInfos;
    XList<KTUGUID> guids;
    uint8_t denial = 0;
    uint16_t value16 = 0;
    uint32_t value32 = 0;
};
bool operator==(const MessageValues& a, const MessageValues& b);

struct PayloadCodec {
    const char* name;  // the encoder's name without "Write", e.g. "ChallengeConnect2"
    uint16_t type;
    int (*write)(NQMessageBuffer& buffer, MessageValues& values);  // the encoder, given the message's fields
    int (*read)(NQMessageBuffer& buffer, MessageValues& values);   // the decoder, into the same fields
};

constexpr std::size_t kPayloadCodecCount = 12;
// In catalogue order: 14, 15, 20, 21, 22, 26, 27, 28, 29, 122, 123, 124.
const std::array<PayloadCodec, kPayloadCodecCount>& PayloadCodecs();
// The codec of `type`, or null for a type without payload or outside the set.
const PayloadCodec* PayloadCodecOf(uint16_t type);

// The frame that `codec` writes for `values`; empty when the encoder returns 0.
std::vector<uint8_t> Encode(const PayloadCodec& codec, MessageValues values);
// Makes a message of `type` carrying `payload`, whatever it holds, current in `in`; false if it cannot.
bool Deliver(NQMessageBuffer& in, uint16_t type, const std::vector<uint8_t>& payload);
// After `codec` decoded the current message of `in` (payload `payload`) with result 1: whether the bytes
// it consumed are those its encoder writes for the values it produced, which a decoder fails when it
// skips, invents, reorders or misplaces a value, whatever the input.
bool ReencodesToConsumedBytes(const PayloadCodec& codec, const MessageValues& decoded, const NQMessageBuffer& in,
                              const std::vector<uint8_t>& payload);

// The fullest realistic content of every field: texts of kRichTextLength characters, lists of
// kRichListLength elements, every byte of the numbers and blocks distinct and non-zero.
constexpr std::size_t kRichTextLength = 16, kRichListLength = 16;
MessageValues RichValues();

}  // namespace ktutils::detail
