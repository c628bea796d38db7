// The eleven messages whose arrival is the whole message.
#include "ktutils/protocol/detail/message_framing.h"
#include "ktutils/protocol/ktu_message2.h"

using ktutils::detail::Opening;
using ktutils::detail::WriteEmptyMessage;

int KTUMessage2::WriteShutdown2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_SHUTDOWN);
}

int KTUMessage2::WritePing2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_PING);
}

int KTUMessage2::WriteBeginChallenge2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_BEGINCHALLENGE);
}

int KTUMessage2::WriteBeginChallengeSSL2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_BEGINCHALLENGESSL);
}

int KTUMessage2::WriteKeepAlive2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_KEEPALIVE);
}

int KTUMessage2::WriteSSL2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_SSL);
}

// A client looks for servers before it has a connection: discovery form.
int KTUMessage2::WriteLookForServer(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Discovery, KTMESSAGETYPE2_LOOKFORSERVER);
}

int KTUMessage2::WriteConnectionError2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_CONNECTIONERROR);
}

int KTUMessage2::WriteServerFull2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_SERVERFULL);
}

int KTUMessage2::WriteNotConnectedYet2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_NOTCONNECTEDYET);
}

int KTUMessage2::WriteAlreadyConnected2(NQMessageBuffer& buffer) {
    return WriteEmptyMessage(buffer, Opening::Session, KTMESSAGETYPE2_ALREADYCONNECTED);
}
