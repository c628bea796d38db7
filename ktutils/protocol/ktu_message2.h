#pragma once

#include <cstdint>

#include "ktutils/host/mqmath/xstring.h"
#include "ktutils/host/nq2/nq_message_buffer.h"
#include "ktutils/ktutils_export.h"
#include "ktutils/protocol/ktu_message_types.h"
#include "ktutils/protocol/ktu_records.h"
#include "ktutils/protocol/xlist.h"

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

    // Handshake. The 16-byte blocks are opaque: exactly 16 bytes are read from
    // or stored into the caller's array, which must hold at least that many.
    static int WriteChallenge2(NQMessageBuffer& buffer, uint32_t challenge);
    static int ReadChallenge2(NQMessageBuffer& buffer, uint32_t& challenge);

    static int WriteChallengeConnect2(NQMessageBuffer& buffer, uint32_t challenge,
                                      const XString& string1, const XString& string2,
                                      const KTUVersion& version,
                                      const XList<KTUGuidVersion>& modules);
    static int ReadChallengeConnect2(NQMessageBuffer& buffer, uint32_t& challenge,
                                     XString& string1, XString& string2, KTUVersion& version,
                                     XList<KTUGuidVersion>& modules);

    static int WriteChallengeConnectDual2(NQMessageBuffer& buffer, uint32_t challenge,
                                          const XString& string1, const XString& string2,
                                          const KTUVersion& version,
                                          const XList<KTUGuidVersion>& modules);
    static int ReadChallengeConnectDual2(NQMessageBuffer& buffer, uint32_t& challenge,
                                         XString& string1, XString& string2,
                                         KTUVersion& version, XList<KTUGuidVersion>& modules);

    static int WriteChallengeConnectSecured(NQMessageBuffer& buffer, uint32_t challenge,
                                            unsigned char block1[16], const XString& string1,
                                            unsigned char block2[16], const KTUVersion& version,
                                            const XList<KTUGuidVersion>& modules);
    static int ReadChallengeConnectSecured(NQMessageBuffer& buffer, uint32_t& challenge,
                                           unsigned char block1[16], XString& string1,
                                           unsigned char block2[16], KTUVersion& version,
                                           XList<KTUGuidVersion>& modules);

    static int WriteChallengeConnectDualSecured(NQMessageBuffer& buffer, uint32_t challenge,
                                                unsigned char block1[16],
                                                const XString& string1,
                                                unsigned char block2[16],
                                                const KTUVersion& version,
                                                const XList<KTUGuidVersion>& modules);
    static int ReadChallengeConnectDualSecured(NQMessageBuffer& buffer, uint32_t& challenge,
                                               unsigned char block1[16], XString& string1,
                                               unsigned char block2[16], KTUVersion& version,
                                               XList<KTUGuidVersion>& modules);

    static int WriteChallengeConnectEmbedded(NQMessageBuffer& buffer, uint32_t challenge,
                                             const KTUVersion& version,
                                             const XList<KTUGuidVersion>& modules);
    static int ReadChallengeConnectEmbedded(NQMessageBuffer& buffer, uint32_t& challenge,
                                            KTUVersion& version,
                                            XList<KTUGuidVersion>& modules);

    // Connection outcomes. ConnectedDual2 carries the 32-bit value first on
    // the wire, the reverse of the argument order.
    static int WriteConnected2(NQMessageBuffer& buffer, const XList<KTUModuleInfo>& modules,
                               uint32_t value);
    static int ReadConnected2(NQMessageBuffer& buffer, XList<KTUModuleInfo>& modules,
                              uint32_t& value);

    static int WriteConnectedDual2(NQMessageBuffer& buffer, const XList<KTUModuleInfo>& modules,
                                   uint16_t value16, uint32_t value32);
    static int ReadConnectedDual2(NQMessageBuffer& buffer, XList<KTUModuleInfo>& modules,
                                  uint16_t& value16, uint32_t& value32);

    static int WriteServerDenied2(NQMessageBuffer& buffer, uint8_t reason);
    static int ReadServerDenied2(NQMessageBuffer& buffer, uint8_t& reason);

    static int WriteBadVersion2(NQMessageBuffer& buffer, const KTUVersion& version);
    static int ReadBadVersion2(NQMessageBuffer& buffer, KTUVersion& version);

    static int WriteBadModule2(NQMessageBuffer& buffer, const XList<KTUGuidVersion>& modules);
    static int ReadBadModule2(NQMessageBuffer& buffer, XList<KTUGuidVersion>& modules);

    // Server discovery, opened with the type alone (no connection exists yet).
    static int WriteServerInfo(NQMessageBuffer& buffer, uint16_t value,
                               const XList<KTUGUID>& moduleIds);
    static int ReadServerInfo(NQMessageBuffer& buffer, uint16_t& value,
                              XList<KTUGUID>& moduleIds);
};
