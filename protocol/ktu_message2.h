#pragma once

#include <cstdint>

#include "host/mqmath/xstring.h"
#include "host/nq2/nq_message_buffer.h"
#include "ktutils_export.h"
#include "protocol/ktu_message_types.h"
#include "protocol/ktu_records.h"
#include "protocol/xlist.h"

// Encoders and decoders of the connection protocol's second message set.
//
// Every encoder appends one whole message to the caller's buffer and returns
// 1, or 0 when the buffer refuses to open a message. Encoders that carry a
// payload catch every exception the buffer raises, cancel their message and
// return 0; the payload-free encoders catch nothing, so such an exception
// reaches their caller. Decoders are called on a message whose type the
// caller has matched to them; they read its payload into the caller's
// variables, append list elements behind those already there, and return 1,
// or 0 on an exception (keeping whatever they stored before it).
//
// No state: calls on different buffers may run on different threads at once.
class KTUTILS_EXPORT KTUMessage2 {
public:
    KTUMessage2() = delete;

    // The constant's name for a type of the set, else "UNKNOWN_MESSAGE".
    // Static storage, never null.
    static const char* KTUMessage2TypeToString(uint16_t type);

    // Messages without payload: the arrival of the type is the whole message.
    static int WriteShutdown2(NQMessageBuffer& buffer);
    static int WritePing2(NQMessageBuffer& buffer);
    static int WriteBeginChallenge2(NQMessageBuffer& buffer);
    static int WriteBeginChallengeSSL2(NQMessageBuffer& buffer);
    static int WriteKeepAlive2(NQMessageBuffer& buffer);
    static int WriteSSL2(NQMessageBuffer& buffer);
    static int WriteLookForServer(NQMessageBuffer& buffer);
    static int WriteConnectionError2(NQMessageBuffer& buffer);
    static int WriteServerFull2(NQMessageBuffer& buffer);
    static int WriteNotConnectedYet2(NQMessageBuffer& buffer);
    static int WriteAlreadyConnected2(NQMessageBuffer& buffer);
};
