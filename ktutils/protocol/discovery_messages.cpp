// The server's answer to a client looking for servers. It travels before any
// connection exists, so it is opened with the type alone. (LookForServer
// itself carries nothing and sits with the payload-free messages.)
#include "ktutils/protocol/detail/message_framing.h"
#include "ktutils/protocol/detail/record_wire.h"
#include "ktutils/protocol/ktu_message2.h"

using namespace ktutils::detail;

// Type 26: the 16-bit value, then the identifier list.
int KTUMessage2::WriteServerInfo(NQMessageBuffer& b, uint16_t value,
                                 const XList<KTUGUID>& moduleIds) {
    return WriteMessage(b, Opening::Discovery, KTMESSAGETYPE2_SERVERINFO, [&] {
        b.WriteU16(value);
        WriteList(b, moduleIds);
    });
}
int KTUMessage2::ReadServerInfo(NQMessageBuffer& b, uint16_t& value,
                                XList<KTUGUID>& moduleIds) {
    return ReadMessage([&] {
        b.ReadU16(value);
        ReadList(b, moduleIds);
    });
}
