// Writes a few messages into a buffer, takes the bytes out as a sender would,
// hands them to a second buffer as a receiver would, and walks them back.
#include <cstdio>
#include <vector>

#include "ktutils.h"

int main() {
    const KTUVersion& version = GetKTUVersion();
    std::printf("ktutils protocol version %u.%u.%u.%u\n", version.parts[0], version.parts[1],
                version.parts[2], version.parts[3]);

    NQMessageBuffer sender;
    KTUMessage2::WriteLookForServer(sender);
    KTUMessage2::WriteBeginChallenge2(sender);
    KTUMessage2::WritePing2(sender);
    KTUMessage2::WriteKeepAlive2(sender);
    KTUMessage2::WriteShutdown2(sender);
    const std::vector<uint8_t> wire = sender.TakeOutput();
    std::printf("sent %zu bytes\n", wire.size());

    NQMessageBuffer receiver;
    receiver.Receive(wire.data(), wire.size());
    while (receiver.NextMsg()) {
        std::printf("  offset %3llu  type %3u  %s\n",
                    static_cast<unsigned long long>(receiver.MsgOffset()), receiver.MsgType(),
                    KTUMessage2::KTUMessage2TypeToString(receiver.MsgType()));
    }
    std::printf("%s\n", KTERRToString(KT_OK));
    return 0;
}
