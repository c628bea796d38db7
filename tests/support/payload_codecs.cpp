#include "tests/support/payload_codecs.h"

#include <algorithm>
#include <cstring>

namespace ktutils::detail {

namespace {

template <class T>
bool SameList(const XList<T>& a, const XList<T>& b) {
    return a.GetCount() == b.GetCount() && std::equal(a.begin(), a.end(), b.begin());
}

// Draws mirror the wire forms of the records: KTUGUID is two U32, the others
// add a U32 version or a U8 state.
void Draw(ByteSource& s, KTUVersion& v) {
    for (uint8_t& part : v.parts) part = s.U8();
}
void Draw(ByteSource& s, KTUGUID& g) {
    g.id1 = s.U32();
    g.id2 = s.U32();
}
void Draw(ByteSource& s, KTUGuidVersion& m) {
    Draw(s, m.guid);
    m.version = s.U32();
}
void Draw(ByteSource& s, KTUModuleInfo& m) {
    Draw(s, m.guid);
    m.state = s.U8();
}

// A list runs to the end of the input, as it runs to the end of the payload.
template <class T>
void DrawList(ByteSource& s, XList<T>& list) {
    for (std::size_t n = 0; s.Left() != 0 && n < kMaxDrawnElements; ++n) {
        T element{};
        Draw(s, element);
        list.Append(element);
    }
}

void DrawText(ByteSource& s, XString& text) { text = s.Text(kMaxDrawnText).c_str(); }

void DrawTextConnect(ByteSource& s, MessageValues& v) {
    v.challenge = s.U32();
    DrawText(s, v.string1);
    DrawText(s, v.string2);
    Draw(s, v.version);
    DrawList(s, v.guidVersions);
}

void DrawSecuredConnect(ByteSource& s, MessageValues& v) {
    v.challenge = s.U32();
    s.Bytes(v.block1, sizeof v.block1);
    DrawText(s, v.string1);
    s.Bytes(v.block2, sizeof v.block2);
    Draw(s, v.version);
    DrawList(s, v.guidVersions);
}

using M = KTUMessage2;
using B = NQMessageBuffer;
using V = MessageValues;

const std::array<PayloadCodec, kPayloadCodecCount> kCodecs = {{
    {"Connected2", KTMESSAGETYPE2_CONNECTED,
     [](B& b, V& v) { return M::WriteConnected2(b, v.moduleInfos, v.value32); },
     [](B& b, V& v) { return M::ReadConnected2(b, v.moduleInfos, v.value32); },
     [](ByteSource& s, V& v) {
         v.value32 = s.U32();
         DrawList(s, v.moduleInfos);
     }},
    {"ConnectedDual2", KTMESSAGETYPE2_CONNECTEDDUAL,
     [](B& b, V& v) { return M::WriteConnectedDual2(b, v.moduleInfos, v.value16, v.value32); },
     [](B& b, V& v) { return M::ReadConnectedDual2(b, v.moduleInfos, v.value16, v.value32); },
     [](ByteSource& s, V& v) {
         v.value32 = s.U32();  // the wire carries the 32-bit value first
         v.value16 = s.U16();
         DrawList(s, v.moduleInfos);
     }},
    {"Challenge2", KTMESSAGETYPE2_CHALLENGE,
     [](B& b, V& v) { return M::WriteChallenge2(b, v.challenge); },
     [](B& b, V& v) { return M::ReadChallenge2(b, v.challenge); },
     [](ByteSource& s, V& v) { v.challenge = s.U32(); }},
    {"ChallengeConnect2", KTMESSAGETYPE2_CHALLENGECONNECT,
     [](B& b, V& v) {
         return M::WriteChallengeConnect2(b, v.challenge, v.string1, v.string2, v.version,
                                          v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnect2(b, v.challenge, v.string1, v.string2, v.version,
                                         v.guidVersions);
     },
     DrawTextConnect},
    {"ChallengeConnectDual2", KTMESSAGETYPE2_CHALLENGECONNECTDUAL,
     [](B& b, V& v) {
         return M::WriteChallengeConnectDual2(b, v.challenge, v.string1, v.string2, v.version,
                                              v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnectDual2(b, v.challenge, v.string1, v.string2, v.version,
                                             v.guidVersions);
     },
     DrawTextConnect},
    {"ServerInfo", KTMESSAGETYPE2_SERVERINFO,
     [](B& b, V& v) { return M::WriteServerInfo(b, v.value16, v.guids); },
     [](B& b, V& v) { return M::ReadServerInfo(b, v.value16, v.guids); },
     [](ByteSource& s, V& v) {
         v.value16 = s.U16();
         DrawList(s, v.guids);
     }},
    {"ChallengeConnectSecured", KTMESSAGETYPE2_CHALLENGECONNECTEX,
     [](B& b, V& v) {
         return M::WriteChallengeConnectSecured(b, v.challenge, v.block1, v.string1, v.block2,
                                                v.version, v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnectSecured(b, v.challenge, v.block1, v.string1, v.block2,
                                               v.version, v.guidVersions);
     },
     DrawSecuredConnect},
    {"ChallengeConnectDualSecured", KTMESSAGETYPE2_CHALLENGECONNECTDUALEX,
     [](B& b, V& v) {
         return M::WriteChallengeConnectDualSecured(b, v.challenge, v.block1, v.string1,
                                                    v.block2, v.version, v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnectDualSecured(b, v.challenge, v.block1, v.string1,
                                                   v.block2, v.version, v.guidVersions);
     },
     DrawSecuredConnect},
    {"ChallengeConnectEmbedded", KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED,
     [](B& b, V& v) {
         return M::WriteChallengeConnectEmbedded(b, v.challenge, v.version, v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnectEmbedded(b, v.challenge, v.version, v.guidVersions);
     },
     [](ByteSource& s, V& v) {
         v.challenge = s.U32();
         Draw(s, v.version);
         DrawList(s, v.guidVersions);
     }},
    {"ServerDenied2", KTMESSAGETYPE2_SERVERDENIED,
     [](B& b, V& v) { return M::WriteServerDenied2(b, v.denial); },
     [](B& b, V& v) { return M::ReadServerDenied2(b, v.denial); },
     [](ByteSource& s, V& v) { v.denial = s.U8(); }},
    {"BadVersion2", KTMESSAGETYPE2_BADVERSION,
     [](B& b, V& v) { return M::WriteBadVersion2(b, v.version); },
     [](B& b, V& v) { return M::ReadBadVersion2(b, v.version); },
     [](ByteSource& s, V& v) { Draw(s, v.version); }},
    {"BadModule2", KTMESSAGETYPE2_BADMODULE,
     [](B& b, V& v) { return M::WriteBadModule2(b, v.guidVersions); },
     [](B& b, V& v) { return M::ReadBadModule2(b, v.guidVersions); },
     [](ByteSource& s, V& v) { DrawList(s, v.guidVersions); }},
}};

}  // namespace

bool operator==(const MessageValues& a, const MessageValues& b) {
    return a.challenge == b.challenge && a.string1 == b.string1 && a.string2 == b.string2 &&
           std::memcmp(a.block1, b.block1, sizeof a.block1) == 0 &&
           std::memcmp(a.block2, b.block2, sizeof a.block2) == 0 && a.version == b.version &&
           SameList(a.guidVersions, b.guidVersions) && SameList(a.moduleInfos, b.moduleInfos) &&
           SameList(a.guids, b.guids) && a.denial == b.denial && a.value16 == b.value16 &&
           a.value32 == b.value32;
}

const std::array<PayloadCodec, kPayloadCodecCount>& PayloadCodecs() { return kCodecs; }

const PayloadCodec* PayloadCodecOf(uint16_t type) {
    for (const PayloadCodec& codec : kCodecs) {
        if (codec.type == type) return &codec;
    }
    return nullptr;
}

}  // namespace ktutils::detail
