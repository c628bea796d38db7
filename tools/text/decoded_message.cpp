#include "tools/text/decoded_message.h"

namespace ktutils::tool {

bool IsConnectRequest(uint16_t type) {
    switch (type) {
    case KTMESSAGETYPE2_CHALLENGECONNECT:
    case KTMESSAGETYPE2_CHALLENGECONNECTDUAL:
    case KTMESSAGETYPE2_CHALLENGECONNECTEX:
    case KTMESSAGETYPE2_CHALLENGECONNECTDUALEX:
    case KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED:
        return true;
    default:
        return false;
    }
}

DecodedMessage DecodeCurrentMessage(NQMessageBuffer& buffer) {
    DecodedMessage m;
    m.offset = buffer.MsgOffset();
    static_cast<MessageDescription&>(m) = DescribeMessage(buffer);
    return m;
}

}  // namespace ktutils::tool
