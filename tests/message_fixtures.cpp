#include "message_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/payload_codecs.h"

namespace fixture {

const char* const kString1 = "player";
const char* const kString2 = "s3cret";
const unsigned char kBlock1[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                   0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
const unsigned char kBlock2[16] = {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
                                   0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

KTUVersion Version() { return KTUVersion(1, 2, 3, 4); }

XList<KTUGuidVersion> GuidVersions() {
    XList<KTUGuidVersion> list;
    KTUGuidVersion m;
    m.guid = {0x11111111, 0x22222222};
    m.version = 0x00010002;
    list.Append(m);
    m.guid = {0xAAAAAAAA, 0xBBBBBBBB};
    m.version = 7;
    list.Append(m);
    return list;
}

XList<KTUModuleInfo> ModuleInfos() {
    XList<KTUModuleInfo> list;
    KTUModuleInfo m;
    m.guid = {1, 2};
    m.state = 0;
    list.Append(m);
    m.guid = {3, 4};
    m.state = 255;
    list.Append(m);
    return list;
}

XList<KTUGUID> Guids() {
    XList<KTUGUID> list;
    list.Append({0xDEADBEEF, 0xCAFEF00D});
    return list;
}

namespace {

template <class T>
std::vector<T> Items(const XList<T>& list) {
    return std::vector<T>(list.begin(), list.end());
}

void ExpectBlock(const unsigned char* actual, const unsigned char* expected) {
    EXPECT_EQ(std::memcmp(actual, expected, 16), 0);
}

// The writable copies that the encoders' non-const block parameters need.
struct Blocks {
    unsigned char one[16];
    unsigned char two[16];
    Blocks() {
        std::memcpy(one, kBlock1, 16);
        std::memcpy(two, kBlock2, 16);
    }
};

// Decoder targets, fresh for each decode: every value any payload carries.
using Targets = ktutils::detail::MessageValues;

int ReadTextConnect(NQMessageBuffer& b, Targets& t, bool dual) {
    return dual ? KTUMessage2::ReadChallengeConnectDual2(b, t.challenge, t.string1, t.string2,
                                                         t.version, t.guidVersions)
                : KTUMessage2::ReadChallengeConnect2(b, t.challenge, t.string1, t.string2,
                                                     t.version, t.guidVersions);
}

int ReadSecuredConnect(NQMessageBuffer& b, Targets& t, bool dual) {
    return dual ? KTUMessage2::ReadChallengeConnectDualSecured(b, t.challenge, t.block1,
                                                               t.string1, t.block2, t.version,
                                                               t.guidVersions)
                : KTUMessage2::ReadChallengeConnectSecured(b, t.challenge, t.block1, t.string1,
                                                           t.block2, t.version, t.guidVersions);
}

void ExpectConnectTail(const Targets& t) {
    EXPECT_EQ(t.challenge, kChallenge);
    EXPECT_EQ(t.version, Version());
    EXPECT_EQ(Items(t.guidVersions), Items(GuidVersions()));
}

}  // namespace

const std::vector<Message>& Messages() {
    static const std::vector<Message> messages = {
        {"WriteConnected2", 14,
         [](NQMessageBuffer& b) { return KTUMessage2::WriteConnected2(b, ModuleInfos(), kConnectedValue); },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadConnected2(b, t.moduleInfos, t.value32);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadConnected2(b, t.moduleInfos, t.value32), 1);
             EXPECT_EQ(t.value32, kConnectedValue);
             EXPECT_EQ(Items(t.moduleInfos), Items(ModuleInfos()));
         }},
        {"WriteConnectedDual2", 15,
         [](NQMessageBuffer& b) {
             return KTUMessage2::WriteConnectedDual2(b, ModuleInfos(), kDualValue16, kConnectedValue);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadConnectedDual2(b, t.moduleInfos, t.value16, t.value32);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadConnectedDual2(b, t.moduleInfos, t.value16, t.value32), 1);
             EXPECT_EQ(t.value16, kDualValue16);
             EXPECT_EQ(t.value32, kConnectedValue);
             EXPECT_EQ(Items(t.moduleInfos), Items(ModuleInfos()));
         }},
        {"WriteShutdown2", 16, KTUMessage2::WriteShutdown2, nullptr, nullptr},
        {"WritePing2", 17, KTUMessage2::WritePing2, nullptr, nullptr},
        {"WriteBeginChallenge2", 18, KTUMessage2::WriteBeginChallenge2, nullptr, nullptr},
        {"WriteBeginChallengeSSL2", 19, KTUMessage2::WriteBeginChallengeSSL2, nullptr, nullptr},
        {"WriteChallenge2", 20,
         [](NQMessageBuffer& b) { return KTUMessage2::WriteChallenge2(b, kChallenge); },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadChallenge2(b, t.challenge);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadChallenge2(b, t.challenge), 1);
             EXPECT_EQ(t.challenge, kChallenge);
         }},
        {"WriteChallengeConnect2", 21,
         [](NQMessageBuffer& b) {
             return KTUMessage2::WriteChallengeConnect2(b, kChallenge, kString1, kString2, Version(),
                                                        GuidVersions());
         },
         [](NQMessageBuffer& b) {
             Targets t;
             return ReadTextConnect(b, t, false);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(ReadTextConnect(b, t, false), 1);
             EXPECT_STREQ(t.string1.CStr(), kString1);
             EXPECT_STREQ(t.string2.CStr(), kString2);
             ExpectConnectTail(t);
         }},
        {"WriteChallengeConnectDual2", 22,
         [](NQMessageBuffer& b) {
             return KTUMessage2::WriteChallengeConnectDual2(b, kChallenge, kString1, kString2,
                                                            Version(), GuidVersions());
         },
         [](NQMessageBuffer& b) {
             Targets t;
             return ReadTextConnect(b, t, true);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(ReadTextConnect(b, t, true), 1);
             EXPECT_STREQ(t.string1.CStr(), kString1);
             EXPECT_STREQ(t.string2.CStr(), kString2);
             ExpectConnectTail(t);
         }},
        {"WriteKeepAlive2", 23, KTUMessage2::WriteKeepAlive2, nullptr, nullptr},
        {"WriteSSL2", 24, KTUMessage2::WriteSSL2, nullptr, nullptr},
        {"WriteLookForServer", 25, KTUMessage2::WriteLookForServer, nullptr, nullptr},
        {"WriteServerInfo", 26,
         [](NQMessageBuffer& b) { return KTUMessage2::WriteServerInfo(b, kServerInfoValue, Guids()); },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadServerInfo(b, t.value16, t.guids);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadServerInfo(b, t.value16, t.guids), 1);
             EXPECT_EQ(t.value16, kServerInfoValue);
             EXPECT_EQ(Items(t.guids), Items(Guids()));
         }},
        {"WriteChallengeConnectSecured", 27,
         [](NQMessageBuffer& b) {
             Blocks blocks;
             return KTUMessage2::WriteChallengeConnectSecured(b, kChallenge, blocks.one, kString1,
                                                              blocks.two, Version(), GuidVersions());
         },
         [](NQMessageBuffer& b) {
             Targets t;
             return ReadSecuredConnect(b, t, false);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(ReadSecuredConnect(b, t, false), 1);
             ExpectBlock(t.block1, kBlock1);
             EXPECT_STREQ(t.string1.CStr(), kString1);
             ExpectBlock(t.block2, kBlock2);
             ExpectConnectTail(t);
         }},
        {"WriteChallengeConnectDualSecured", 28,
         [](NQMessageBuffer& b) {
             Blocks blocks;
             return KTUMessage2::WriteChallengeConnectDualSecured(
                 b, kChallenge, blocks.one, kString1, blocks.two, Version(), GuidVersions());
         },
         [](NQMessageBuffer& b) {
             Targets t;
             return ReadSecuredConnect(b, t, true);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(ReadSecuredConnect(b, t, true), 1);
             ExpectBlock(t.block1, kBlock1);
             EXPECT_STREQ(t.string1.CStr(), kString1);
             ExpectBlock(t.block2, kBlock2);
             ExpectConnectTail(t);
         }},
        {"WriteChallengeConnectEmbedded", 29,
         [](NQMessageBuffer& b) {
             return KTUMessage2::WriteChallengeConnectEmbedded(b, kChallenge, Version(),
                                                               GuidVersions());
         },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadChallengeConnectEmbedded(b, t.challenge, t.version,
                                                              t.guidVersions);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadChallengeConnectEmbedded(b, t.challenge, t.version,
                                                                 t.guidVersions),
                       1);
             ExpectConnectTail(t);
         }},
        {"WriteConnectionError2", 120, KTUMessage2::WriteConnectionError2, nullptr, nullptr},
        {"WriteServerFull2", 121, KTUMessage2::WriteServerFull2, nullptr, nullptr},
        {"WriteServerDenied2", 122,
         [](NQMessageBuffer& b) { return KTUMessage2::WriteServerDenied2(b, kDenial); },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadServerDenied2(b, t.denial);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadServerDenied2(b, t.denial), 1);
             EXPECT_EQ(t.denial, kDenial);
         }},
        {"WriteBadVersion2", 123,
         [](NQMessageBuffer& b) { return KTUMessage2::WriteBadVersion2(b, Version()); },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadBadVersion2(b, t.version);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadBadVersion2(b, t.version), 1);
             EXPECT_EQ(t.version, Version());
         }},
        {"WriteBadModule2", 124,
         [](NQMessageBuffer& b) { return KTUMessage2::WriteBadModule2(b, GuidVersions()); },
         [](NQMessageBuffer& b) {
             Targets t;
             return KTUMessage2::ReadBadModule2(b, t.guidVersions);
         },
         [](NQMessageBuffer& b) {
             Targets t;
             EXPECT_EQ(KTUMessage2::ReadBadModule2(b, t.guidVersions), 1);
             EXPECT_EQ(Items(t.guidVersions), Items(GuidVersions()));
         }},
        {"WriteNotConnectedYet2", 125, KTUMessage2::WriteNotConnectedYet2, nullptr, nullptr},
        {"WriteAlreadyConnected2", 126, KTUMessage2::WriteAlreadyConnected2, nullptr, nullptr},
    };
    return messages;
}

const Message& ByEncoder(const char* encoder) {
    for (const Message& m : Messages()) {
        if (std::strcmp(m.encoder, encoder) == 0) return m;
    }
    ADD_FAILURE() << "no fixture for " << encoder;
    return Messages().front();
}

std::vector<uint8_t> Encode(const Message& message) {
    NQMessageBuffer buffer;
    EXPECT_EQ(message.write(buffer), 1) << message.encoder;
    return buffer.TakeOutput();
}

}  // namespace fixture
