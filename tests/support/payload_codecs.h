#pragma once

#include <array>
#include <cstdint>

#include "ktutils/ktutils.h"
#include "tests/support/byte_source.h"

// The twelve messages that carry a payload, behind one uniform signature, so
// that fuzzers, the thread test and the benchmarks can pick a message by
// number and compare what went in with what came out.
namespace ktutils::detail {

// Every value that any of the twelve payloads carries. A message uses only
// its own fields; the rest stay at their defaults, so two sets of values
// compare equal exactly when the message's own fields do.
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
    // The encoder, handed the message's own fields of `values`.
    int (*write)(NQMessageBuffer& buffer, MessageValues& values);
    // The decoder, storing into (and appending to) the same fields.
    int (*read)(NQMessageBuffer& buffer, MessageValues& values);
    // Fills the message's own fields from `source`, field by field in wire
    // order and width: a payload the encoder wrote, drawn this way, gives
    // back the values it was written from.
    void (*draw)(ByteSource& source, MessageValues& values);
};

constexpr std::size_t kPayloadCodecCount = 12;

// In catalogue order: 14, 15, 20, 21, 22, 26, 27, 28, 29, 122, 123, 124.
const std::array<PayloadCodec, kPayloadCodecCount>& PayloadCodecs();

// The codec of `type`, or null for a type without payload or outside the set.
const PayloadCodec* PayloadCodecOf(uint16_t type);

// Lists drawn from input stop here, so that a drawn message stays well under
// the buffer's payload limit.
constexpr std::size_t kMaxDrawnElements = 1024;
// Texts drawn from input stop here, for the same reason.
constexpr std::size_t kMaxDrawnText = 4096;

}  // namespace ktutils::detail
