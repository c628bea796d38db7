#include "tests/support/payload_codecs.h"

#include <algorithm>
#include <cstring>

namespace ktutils::detail {

namespace {

// The encoder and the decoder of a message take the same fields in the same order.
#define KTUTILS_CODEC(name, type, ...)                                                  \
    {#name, type, [](NQMessageBuffer& b, MessageValues& v) { return KTUMessage2::Write##name(b, __VA_ARGS__); }, \
     [](NQMessageBuffer& b, MessageValues& v) { return KTUMessage2::Read##name(b, __VA_ARGS__); }}

const std::array<PayloadCodec, kPayloadCodecCount> kCodecs = {{
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
    KTUTILS_CODEC(ChallengeConnectEmbedded, KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED, v.challenge, v.version, v.guidVersions),
    KTUTILS_CODEC(ServerDenied2, KTMESSAGETYPE2_SERVERDENIED, v.denial),
    KTUTILS_CODEC(BadVersion2, KTMESSAGETYPE2_BADVERSION, v.version),
    KTUTILS_CODEC(BadModule2, KTMESSAGETYPE2_BADMODULE, v.guidVersions),
}};

template <class T>
bool SameList(const XList<T>& a, const XList<T>& b) {
    return a.GetCount() == b.GetCount() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

bool operator==(const MessageValues& a, const MessageValues& b) {
    return a.challenge == b.challenge && a.string1 == b.string1 && a.string2 == b.string2 &&
           std::memcmp(a.block1, b.block1, 16) == 0 && std::memcmp(a.block2, b.block2, 16) == 0 &&
           a.version == b.version && SameList(a.guidVersions, b.guidVersions) &&
           SameList(a.moduleInfos, b.moduleInfos) && SameList(a.guids, b.guids) && a.denial == b.denial &&
           a.value16 == b.value16 && a.value32 == b.value32;
}

const std::array<PayloadCodec, kPayloadCodecCount>& PayloadCodecs() { return kCodecs; }

const PayloadCodec* PayloadCodecOf(uint16_t type) {
    const auto found = std::find_if(kCodecs.begin(), kCodecs.end(), [type](const PayloadCodec& c) { return c.type == type; });
    return found != kCodecs.end() ? &*found : nullptr;
}

MessageValues RichValues() {
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

std::vector<uint8_t> Encode(const PayloadCodec& codec, MessageValues values) {
    NQMessageBuffer out;
    return codec.write(out, values) == 1 ? out.TakeOutput() : std::vector<uint8_t>();
}

bool Deliver(NQMessageBuffer& in, uint16_t type, const std::vector<uint8_t>& payload) {
    NQMessageBuffer out;
    out.BeginWriteMsg(0, type);
    if (!payload.empty()) out.WriteData(payload.data(), static_cast<uint32_t>(payload.size()));
    out.EndWriteMsg();
    in.Receive(out.OutputData(), out.OutputSize());
    return in.NextMsg();
}

bool ReencodesToConsumedBytes(const PayloadCodec& codec, const MessageValues& decoded, const NQMessageBuffer& in,
                              const std::vector<uint8_t>& payload) {
    std::size_t consumed = payload.size();
    for (uint8_t skipped = 0; in.CurrentMsg() != 0; --consumed) in.ReadU8(skipped);
    const std::vector<uint8_t> frame = Encode(codec, decoded);
    return frame.size() == NQMessageBuffer::kHeaderSize + consumed &&
           std::equal(frame.begin() + NQMessageBuffer::kHeaderSize, frame.end(), payload.begin());
}

}  // namespace ktutils::detail
