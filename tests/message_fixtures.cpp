#include "message_fixtures.h"

#include <algorithm>

namespace fixture {

MessageValues Values(uint16_t type) {
    MessageValues v{0x12345678, "player", "s3cret", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                    {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF},
                    KTUVersion(1, 2, 3, 4), {}, {}, {}, 9,
                    static_cast<uint16_t>(type == KTMESSAGETYPE2_SERVERINFO ? 0x6987 : 0xBEEF), 0x01020304};
    v.guidVersions.Append({{0x11111111, 0x22222222}, 0x00010002}), v.guidVersions.Append({{0xAAAAAAAA, 0xBBBBBBBB}, 7});
    v.moduleInfos.Append({{1, 2}, 0}), v.moduleInfos.Append({{3, 4}, 255}), v.guids.Append({0xDEADBEEF, 0xCAFEF00D});
    return v;
}

const std::vector<Message>& Messages() {
    using M = KTUMessage2;
    static const std::vector<Message> messages = [] {
        std::vector<Message> all = {
            {"WriteShutdown2", 16, M::WriteShutdown2}, {"WritePing2", 17, M::WritePing2},
            {"WriteBeginChallenge2", 18, M::WriteBeginChallenge2}, {"WriteBeginChallengeSSL2", 19, M::WriteBeginChallengeSSL2},
            {"WriteKeepAlive2", 23, M::WriteKeepAlive2}, {"WriteSSL2", 24, M::WriteSSL2},
            {"WriteLookForServer", 25, M::WriteLookForServer}, {"WriteConnectionError2", 120, M::WriteConnectionError2},
            {"WriteServerFull2", 121, M::WriteServerFull2}, {"WriteNotConnectedYet2", 125, M::WriteNotConnectedYet2},
            {"WriteAlreadyConnected2", 126, M::WriteAlreadyConnected2},
        };
        for (const ktutils::detail::PayloadCodec& codec : ktutils::detail::PayloadCodecs()) {
            all.push_back({std::string("Write") + codec.name, codec.type, [&codec](NQMessageBuffer& b) {
                               MessageValues values = Values(codec.type);
                               return codec.write(b, values);
                           }});
        }
        std::sort(all.begin(), all.end(), [](const Message& a, const Message& b) { return a.type < b.type; });
        return all;
    }();
    return messages;
}

}  // namespace fixture
