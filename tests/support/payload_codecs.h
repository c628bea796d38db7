#pragma once

#include <array>
#include <cstdint>

#include "ktutils.h"

// The twelve messages that carry a payload, behind one signature, so that the
// tests, fuzzers and benchmarks can pick a message by number and compare what
// went in with what came out.
namespace ktutils::detail {

// Every value that any of the twelve payloads carries; a message uses only its
// own fields and leaves the rest at their defaults.
struct MessageValues {
    uint32_t challenge = 0;
    XString string1;
    XString string2;
    unsigned char block1[16] = {};
    unsigned char block2[16] = {};
    KTUVersion version;
    XList<KTUGuidVersion> guidVersions;
    XList<KTUModuleInfo> moduleInfos;
    XList<KTUGUID> guids;
    uint8_t denial = 0;
    uint16_t value16 = 0;
    uint32_t value32 = 0;
};

bool operator==(const MessageValues& a, const MessageValues& b);
inline bool operator!=(const MessageValues& a, const MessageValues& b) { return !(a == b); }

struct PayloadCodec {
    const char* name;  // the encoder's name without "Write", e.g. "ChallengeConnect2"
    uint16_t type;
    int (*write)(NQMessageBuffer& buffer, MessageValues& values);  // the message's own fields
    int (*read)(NQMessageBuffer& buffer, MessageValues& values);   // into the same fields
};

constexpr std::size_t kPayloadCodecCount = 12;

// In catalogue order: 14, 15, 20, 21, 22, 26, 27, 28, 29, 122, 123, 124.
const std::array<PayloadCodec, kPayloadCodecCount>& PayloadCodecs();

// The codec of `type`, or null for a type without payload or outside the set.
const PayloadCodec* PayloadCodecOf(uint16_t type);

}  // namespace ktutils::detail
