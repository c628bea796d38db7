#include "tests/support/payload_codecs.h"

#include <algorithm>
#include <cstring>

namespace ktutils::detail {

namespace {

template <class T>
bool SameList(const XList<T>& a, const XList<T>& b) {
    return a.GetCount() == b.GetCount() && std::equal(a.begin(), a.end(), b.begin());
}

using M = KTUMessage2;
using B = NQMessageBuffer;
using V = MessageValues;

const std::array<PayloadCodec, kPayloadCodecCount> kCodecs = {{
    {"Connected2", KTMESSAGETYPE2_CONNECTED,
     [](B& b, V& v) { return M::WriteConnected2(b, v.moduleInfos, v.value32); },
     [](B& b, V& v) { return M::ReadConnected2(b, v.moduleInfos, v.value32); }},
    {"ConnectedDual2", KTMESSAGETYPE2_CONNECTEDDUAL,
     [](B& b, V& v) { return M::WriteConnectedDual2(b, v.moduleInfos, v.value16, v.value32); },
     [](B& b, V& v) { return M::ReadConnectedDual2(b, v.moduleInfos, v.value16, v.value32); }},
    {"Challenge2", KTMESSAGETYPE2_CHALLENGE,
     [](B& b, V& v) { return M::WriteChallenge2(b, v.challenge); },
     [](B& b, V& v) { return M::ReadChallenge2(b, v.challenge); }},
    {"ChallengeConnect2", KTMESSAGETYPE2_CHALLENGECONNECT,
     [](B& b, V& v) {
         return M::WriteChallengeConnect2(b, v.challenge, v.string1, v.string2, v.version, v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnect2(b, v.challenge, v.string1, v.string2, v.version, v.guidVersions);
     }},
    {"ChallengeConnectDual2", KTMESSAGETYPE2_CHALLENGECONNECTDUAL,
     [](B& b, V& v) {
         return M::WriteChallengeConnectDual2(b, v.challenge, v.string1, v.string2, v.version, v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnectDual2(b, v.challenge, v.string1, v.string2, v.version, v.guidVersions);
     }},
    {"ServerInfo", KTMESSAGETYPE2_SERVERINFO,
     [](B& b, V& v) { return M::WriteServerInfo(b, v.value16, v.guids); },
     [](B& b, V& v) { return M::ReadServerInfo(b, v.value16, v.guids); }},
    {"ChallengeConnectSecured", KTMESSAGETYPE2_CHALLENGECONNECTEX,
     [](B& b, V& v) {
         return M::WriteChallengeConnectSecured(b, v.challenge, v.block1, v.string1, v.block2, v.version,
                                                v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnectSecured(b, v.challenge, v.block1, v.string1, v.block2, v.version,
                                               v.guidVersions);
     }},
    {"ChallengeConnectDualSecured", KTMESSAGETYPE2_CHALLENGECONNECTDUALEX,
     [](B& b, V& v) {
         return M::WriteChallengeConnectDualSecured(b, v.challenge, v.block1, v.string1, v.block2, v.version,
                                                    v.guidVersions);
     },
     [](B& b, V& v) {
         return M::ReadChallengeConnectDualSecured(b, v.challenge, v.block1, v.string1, v.block2, v.version,
                                                   v.guidVersions);
     }},
    {"ChallengeConnectEmbedded", KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED,
     [](B& b, V& v) { return M::WriteChallengeConnectEmbedded(b, v.challenge, v.version, v.guidVersions); },
     [](B& b, V& v) { return M::ReadChallengeConnectEmbedded(b, v.challenge, v.version, v.guidVersions); }},
    {"ServerDenied2", KTMESSAGETYPE2_SERVERDENIED,
     [](B& b, V& v) { return M::WriteServerDenied2(b, v.denial); },
     [](B& b, V& v) { return M::ReadServerDenied2(b, v.denial); }},
    {"BadVersion2", KTMESSAGETYPE2_BADVERSION,
     [](B& b, V& v) { return M::WriteBadVersion2(b, v.version); },
     [](B& b, V& v) { return M::ReadBadVersion2(b, v.version); }},
    {"BadModule2", KTMESSAGETYPE2_BADMODULE,
     [](B& b, V& v) { return M::WriteBadModule2(b, v.guidVersions); },
     [](B& b, V& v) { return M::ReadBadModule2(b, v.guidVersions); }},
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
