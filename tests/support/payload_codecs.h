#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
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

template <class T>
bool SameList(const XList<T>& a, const XList<T>& b) {
    return a.GetCount() == b.GetCount() && std::equal(a.begin(), a.end(), b.begin());
}

inline bool operator==(const MessageValues& a, const MessageValues& b) {
    return a.challenge == b.challenge && a.string1 == b.string1 && a.string2 == b.string2 &&
           std::memcmp(a.block1, b.block1, 16) == 0 && std::memcmp(a.block2, b.block2, 16) == 0 &&
           a.version == b.version && SameList(a.guidVersions, b.guidVersions) &&
           SameList(a.moduleInfos, b.moduleInfos) && SameList(a.guids, b.guids) && a.denial == b.denial &&
           a.value16 == b.value16 && a.value32 == b.value32;
}

struct PayloadCodec {
    const char* name;  // the encoder's name without "Write", e.g. "ChallengeConnect2"
    uint16_t type;
    int (*write)(NQMessageBuffer& buffer, MessageValues& values);  // the encoder, given the message's fields
    int (*read)(NQMessageBuffer& buffer, MessageValues& values);   // the decoder, into the same fields
};

// The encoder and the decoder of a message take the same fields in the same order.
#define KTUTILS_CODEC(name, type, ...)                                                  \
    {#name, type, [](NQMessageBuffer& b, MessageValues& v) { return KTUMessage2::Write##name(b, __VA_ARGS__); }, \
     [](NQMessageBuffer& b, MessageValues& v) { return KTUMessage2::Read##name(b, __VA_ARGS__); }}

constexpr std::size_t kPayloadCodecCount = 12;
// In catalogue order: 14, 15, 20, 21, 22, 26, 27, 28, 29, 122, 123, 124.
inline const std::array<PayloadCodec, kPayloadCodecCount>& PayloadCodecs() {
    static const std::array<PayloadCodec, kPayloadCodecCount> codecs = {{
        KTUTILS_CODEC(Connected2, KTMESSAGETYPE2_CONNECTED, v.moduleInfos, v.value32),
        KTUTILS_CODEC(ConnectedDual2, KTMESSAGETYPE2_CONNECTEDDUAL, v.moduleInfos, v.value16, v.value32),
        KTUTILS_CODEC(Challenge2, KTMESSAGETYPE2_CHALLENGE, v.challenge),
        KTUTILS_CODEC(ChallengeConnect2, KTMESSAGETYPE2_CHALLENGECONNECT, v.challenge, v.string1, v.string2, v.version,
                      v.guidVersions),
        KTUTILS_CODEC(ChallengeConnectDual2, KTMESSAGETYPE2_CHALLENGECONNECTDUAL, v.challenge, v.string1, v.string2,
                      v.version, v.guidVersions),
        KTUTILS_CODEC(ServerInfo, KTMESSAGETYPE2_SERVERINFO, v.value16, v.guids),
        KTUTILS_CODEC(ChallengeConnectSecured, KTMESSAGETYPE2_CHALLENGECONNECTEX, v.challenge, v.block1, v.string1,
                      v.block2, v.version, v.guidVersions),
        KTUTILS_CODEC(ChallengeConnectDualSecured, KTMESSAGETYPE2_CHALLENGECONNECTDUALEX, v.challenge, v.block1,
                      v.string1, v.block2, v.version, v.guidVersions),
        KTUTILS_CODEC(ChallengeConnectEmbedded, KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED, v.challenge, v.version,
                      v.guidVersions),
        KTUTILS_CODEC(ServerDenied2, KTMESSAGETYPE2_SERVERDENIED, v.denial),
        KTUTILS_CODEC(BadVersion2, KTMESSAGETYPE2_BADVERSION, v.version),
        KTUTILS_CODEC(BadModule2, KTMESSAGETYPE2_BADMODULE, v.guidVersions),
    }};
    return codecs;
}
#undef KTUTILS_CODEC

// The codec of `type`, or null for a type without payload or outside the set.
inline const PayloadCodec* PayloadCodecOf(uint16_t type) {
    const auto& codecs = PayloadCodecs();
    const auto found = std::find_if(codecs.begin(), codecs.end(), [type](const PayloadCodec& c) { return c.type == type; });
    return found != codecs.end() ? &*found : nullptr;
}

// The frame that `codec` writes for `values`; empty when the encoder returns 0.
inline std::vector<uint8_t> Encode(const PayloadCodec& codec, MessageValues values) {
    NQMessageBuffer out;
    return codec.write(out, values) == 1 ? out.TakeOutput() : std::vector<uint8_t>();
}

// Makes a message of `type` carrying `payload`, whatever it holds, current in `in`; false if it cannot.
inline bool Deliver(NQMessageBuffer& in, uint16_t type, const std::vector<uint8_t>& payload) {
    NQMessageBuffer out;
    out.BeginWriteMsg(0, type);
    if (!payload.empty()) out.WriteData(payload.data(), static_cast<uint32_t>(payload.size()));
    out.EndWriteMsg();
    in.Receive(out.OutputData(), out.OutputSize());
    return in.NextMsg();
}

// After `codec` decoded the current message of `in` (payload `payload`) with result 1: whether the bytes
// it consumed are those its encoder writes for the values it produced, which a decoder fails when it
// skips, invents, reorders or misplaces a value, whatever the input.
inline bool ReencodesToConsumedBytes(const PayloadCodec& codec, const MessageValues& decoded, const NQMessageBuffer& in,
                                     const std::vector<uint8_t>& payload) {
    std::size_t consumed = payload.size();
    for (uint8_t skipped = 0; in.CurrentMsg() != 0; --consumed) in.ReadU8(skipped);
    const std::vector<uint8_t> frame = Encode(codec, decoded);
    return frame.size() == NQMessageBuffer::kHeaderSize + consumed &&
           std::equal(frame.begin() + NQMessageBuffer::kHeaderSize, frame.end(), payload.begin());
}

// The fullest realistic content of every field: texts of kRichTextLength characters, lists of
// kRichListLength elements, every byte of the numbers and blocks distinct and non-zero.
constexpr std::size_t kRichTextLength = 16, kRichListLength = 16;
inline MessageValues RichValues() {
    MessageValues v{0x9E3779B9, "player0123456789", "Zq8!mP2#vL5$wN7%", {}, {}, KTUVersion(1, 12, 7, 203), {}, {}, {}, 7,
                    0xBEEF, 0x01020304};  // the blocks and lists below
    for (uint32_t i = 1; i <= kRichListLength; ++i) {  // as many as a block has bytes
        v.block1[i - 1] = static_cast<unsigned char>(0x11 * i);
        v.block2[i - 1] = static_cast<unsigned char>(0xF1 - i);
        const KTUGUID id{0x01000193u * i, 0x811C9DC5u ^ i};
        v.guidVersions.Append({id, 0x00010000u + i});
        v.moduleInfos.Append({id, static_cast<uint8_t>(i)});
        v.guids.Append(id);
    }
    return v;
}

}  // namespace ktutils::detail
