// The handshake messages that carry data: the challenge and the five forms of
// the connect request. Each encoder sits beside its decoder so the wire order
// can be checked at a glance.
#include "ktutils/protocol/detail/field_wire.h"
#include "ktutils/protocol/detail/message_framing.h"
#include "ktutils/protocol/detail/record_wire.h"
#include "ktutils/protocol/ktu_message2.h"

using namespace ktutils::detail;

namespace {

// Types 21 and 22 carry the same payload: challenge, two texts, version,
// module list.
int WriteTextConnect(NQMessageBuffer& b, uint16_t type, uint32_t challenge,
                     const XString& string1, const XString& string2, const KTUVersion& version,
                     const XList<KTUGuidVersion>& modules) {
    return WriteMessage(b, Opening::Session, type, [&] {
        b.WriteU32(challenge);
        WriteText(b, string1);
        WriteText(b, string2);
        WriteRecord(b, version);
        WriteList(b, modules);
    });
}
int ReadTextConnect(NQMessageBuffer& b, uint32_t& challenge, XString& string1, XString& string2,
                    KTUVersion& version, XList<KTUGuidVersion>& modules) {
    return ReadMessage([&] {
        b.ReadU32(challenge);
        ReadText(b, string1);
        ReadText(b, string2);
        ReadRecord(b, version);
        ReadList(b, modules);
    });
}

// Types 27 and 28 carry the same payload: challenge, block, text, block,
// version, module list. The second block stands where 21 and 22 carry their
// second text.
int WriteSecuredConnect(NQMessageBuffer& b, uint16_t type, uint32_t challenge,
                        const unsigned char* block1, const XString& string1,
                        const unsigned char* block2, const KTUVersion& version,
                        const XList<KTUGuidVersion>& modules) {
    return WriteMessage(b, Opening::Session, type, [&] {
        b.WriteU32(challenge);
        WriteBlock(b, block1);
        WriteText(b, string1);
        WriteBlock(b, block2);
        WriteRecord(b, version);
        WriteList(b, modules);
    });
}
int ReadSecuredConnect(NQMessageBuffer& b, uint32_t& challenge, unsigned char* block1,
                       XString& string1, unsigned char* block2, KTUVersion& version,
                       XList<KTUGuidVersion>& modules) {
    return ReadMessage([&] {
        b.ReadU32(challenge);
        ReadBlock(b, block1);
        ReadText(b, string1);
        ReadBlock(b, block2);
        ReadRecord(b, version);
        ReadList(b, modules);
    });
}

}  // namespace

// Type 20: the challenge word alone.
int KTUMessage2::WriteChallenge2(NQMessageBuffer& b, uint32_t challenge) {
    return WriteMessage(b, Opening::Session, KTMESSAGETYPE2_CHALLENGE,
                        [&] { b.WriteU32(challenge); });
}
int KTUMessage2::ReadChallenge2(NQMessageBuffer& b, uint32_t& challenge) {
    return ReadMessage([&] { b.ReadU32(challenge); });
}

// Type 21.
int KTUMessage2::WriteChallengeConnect2(NQMessageBuffer& b, uint32_t challenge,
                                        const XString& string1, const XString& string2,
                                        const KTUVersion& version,
                                        const XList<KTUGuidVersion>& modules) {
    return WriteTextConnect(b, KTMESSAGETYPE2_CHALLENGECONNECT, challenge, string1, string2,
                            version, modules);
}
int KTUMessage2::ReadChallengeConnect2(NQMessageBuffer& b, uint32_t& challenge, XString& string1,
                                       XString& string2, KTUVersion& version,
                                       XList<KTUGuidVersion>& modules) {
    return ReadTextConnect(b, challenge, string1, string2, version, modules);
}

// Type 22: the payload of type 21.
int KTUMessage2::WriteChallengeConnectDual2(NQMessageBuffer& b, uint32_t challenge,
                                            const XString& string1, const XString& string2,
                                            const KTUVersion& version,
                                            const XList<KTUGuidVersion>& modules) {
    return WriteTextConnect(b, KTMESSAGETYPE2_CHALLENGECONNECTDUAL, challenge, string1, string2,
                            version, modules);
}
int KTUMessage2::ReadChallengeConnectDual2(NQMessageBuffer& b, uint32_t& challenge,
                                           XString& string1, XString& string2,
                                           KTUVersion& version, XList<KTUGuidVersion>& modules) {
    return ReadTextConnect(b, challenge, string1, string2, version, modules);
}

// Type 27.
int KTUMessage2::WriteChallengeConnectSecured(NQMessageBuffer& b, uint32_t challenge,
                                              unsigned char block1[16], const XString& string1,
                                              unsigned char block2[16], const KTUVersion& version,
                                              const XList<KTUGuidVersion>& modules) {
    return WriteSecuredConnect(b, KTMESSAGETYPE2_CHALLENGECONNECTEX, challenge, block1, string1,
                               block2, version, modules);
}
int KTUMessage2::ReadChallengeConnectSecured(NQMessageBuffer& b, uint32_t& challenge,
                                             unsigned char block1[16], XString& string1,
                                             unsigned char block2[16], KTUVersion& version,
                                             XList<KTUGuidVersion>& modules) {
    return ReadSecuredConnect(b, challenge, block1, string1, block2, version, modules);
}

// Type 28: the payload of type 27.
int KTUMessage2::WriteChallengeConnectDualSecured(NQMessageBuffer& b, uint32_t challenge,
                                                  unsigned char block1[16],
                                                  const XString& string1,
                                                  unsigned char block2[16],
                                                  const KTUVersion& version,
                                                  const XList<KTUGuidVersion>& modules) {
    return WriteSecuredConnect(b, KTMESSAGETYPE2_CHALLENGECONNECTDUALEX, challenge, block1,
                               string1, block2, version, modules);
}
int KTUMessage2::ReadChallengeConnectDualSecured(NQMessageBuffer& b, uint32_t& challenge,
                                                 unsigned char block1[16], XString& string1,
                                                 unsigned char block2[16], KTUVersion& version,
                                                 XList<KTUGuidVersion>& modules) {
    return ReadSecuredConnect(b, challenge, block1, string1, block2, version, modules);
}

// Type 29: challenge, version, module list; nothing between.
int KTUMessage2::WriteChallengeConnectEmbedded(NQMessageBuffer& b, uint32_t challenge,
                                               const KTUVersion& version,
                                               const XList<KTUGuidVersion>& modules) {
    return WriteMessage(b, Opening::Session, KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED, [&] {
        b.WriteU32(challenge);
        WriteRecord(b, version);
        WriteList(b, modules);
    });
}
int KTUMessage2::ReadChallengeConnectEmbedded(NQMessageBuffer& b, uint32_t& challenge,
                                              KTUVersion& version,
                                              XList<KTUGuidVersion>& modules) {
    return ReadMessage([&] {
        b.ReadU32(challenge);
        ReadRecord(b, version);
        ReadList(b, modules);
    });
}
