#include "message_fixtures.h"

namespace fixture {

const char* const kString1 = "player";

MessageValues Values(uint16_t type) {
    MessageValues v;
    const bool connect = type == 21 || type == 22 || type == 27 || type == 28 || type == 29;
    if (type == 20 || connect) v.challenge = 0x12345678;
    if (connect && type != 29) v.string1 = kString1;
    if (type == 21 || type == 22) v.string2 = "s3cret";
    for (unsigned i = 0; i < 16 && (type == 27 || type == 28); ++i) {
        v.block1[i] = static_cast<unsigned char>(i);
        v.block2[i] = static_cast<unsigned char>(0xF0 + i);
    }
    if (connect || type == 123) v.version = KTUVersion(1, 2, 3, 4);
    if (connect || type == 124) {
        v.guidVersions.Append({{0x11111111, 0x22222222}, 0x00010002});
        v.guidVersions.Append({{0xAAAAAAAA, 0xBBBBBBBB}, 7});
    }
    if (type == 14 || type == 15) {
        v.moduleInfos.Append({{1, 2}, 0});
        v.moduleInfos.Append({{3, 4}, 255});
        v.value32 = 0x01020304;
    }
    if (type == 15) v.value16 = 0xBEEF;
    if (type == 26) {
        v.value16 = 0x6987;
        v.guids.Append({0xDEADBEEF, 0xCAFEF00D});
    }
    if (type == 122) v.denial = 9;
    return v;
}

namespace {

template <uint16_t Type>
int WriteFixture(NQMessageBuffer& b) {
    MessageValues v = Values(Type);
    return ktutils::detail::PayloadCodecOf(Type)->write(b, v);
}

}  // namespace

const std::vector<Message>& Messages() {
    using M = KTUMessage2;
    static const std::vector<Message> messages = {
        {"WriteConnected2", 14, WriteFixture<14>},
        {"WriteConnectedDual2", 15, WriteFixture<15>},
        {"WriteShutdown2", 16, M::WriteShutdown2},
        {"WritePing2", 17, M::WritePing2},
        {"WriteBeginChallenge2", 18, M::WriteBeginChallenge2},
        {"WriteBeginChallengeSSL2", 19, M::WriteBeginChallengeSSL2},
        {"WriteChallenge2", 20, WriteFixture<20>},
        {"WriteChallengeConnect2", 21, WriteFixture<21>},
        {"WriteChallengeConnectDual2", 22, WriteFixture<22>},
        {"WriteKeepAlive2", 23, M::WriteKeepAlive2},
        {"WriteSSL2", 24, M::WriteSSL2},
        {"WriteLookForServer", 25, M::WriteLookForServer},
        {"WriteServerInfo", 26, WriteFixture<26>},
        {"WriteChallengeConnectSecured", 27, WriteFixture<27>},
        {"WriteChallengeConnectDualSecured", 28, WriteFixture<28>},
        {"WriteChallengeConnectEmbedded", 29, WriteFixture<29>},
        {"WriteConnectionError2", 120, M::WriteConnectionError2},
        {"WriteServerFull2", 121, M::WriteServerFull2},
        {"WriteServerDenied2", 122, WriteFixture<122>},
        {"WriteBadVersion2", 123, WriteFixture<123>},
        {"WriteBadModule2", 124, WriteFixture<124>},
        {"WriteNotConnectedYet2", 125, M::WriteNotConnectedYet2},
        {"WriteAlreadyConnected2", 126, M::WriteAlreadyConnected2},
    };
    return messages;
}

}  // namespace fixture
