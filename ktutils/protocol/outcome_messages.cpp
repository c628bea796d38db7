// How a connect request ended, for the outcomes that carry data. Each encoder
// sits beside its decoder so the wire order can be checked at a glance.
#include "ktutils/protocol/detail/message_framing.h"
#include "ktutils/protocol/detail/record_wire.h"
#include "ktutils/protocol/ktu_message2.h"

using namespace ktutils::detail;

// Type 14: the 32-bit value, then the module list.
int KTUMessage2::WriteConnected2(NQMessageBuffer& b, const XList<KTUModuleInfo>& modules,
                                 uint32_t value) {
    return WriteMessage(b, Opening::Session, KTMESSAGETYPE2_CONNECTED, [&] {
        b.WriteU32(value);
        WriteList(b, modules);
    });
}
int KTUMessage2::ReadConnected2(NQMessageBuffer& b, XList<KTUModuleInfo>& modules,
                                uint32_t& value) {
    return ReadMessage([&] {
        b.ReadU32(value);
        ReadList(b, modules);
    });
}

// Type 15: 32-bit value, 16-bit value, module list -- the reverse of the
// argument order. Each value comes back in the argument of its own width.
int KTUMessage2::WriteConnectedDual2(NQMessageBuffer& b, const XList<KTUModuleInfo>& modules,
                                     uint16_t value16, uint32_t value32) {
    return WriteMessage(b, Opening::Session, KTMESSAGETYPE2_CONNECTEDDUAL, [&] {
        b.WriteU32(value32);
        b.WriteU16(value16);
        WriteList(b, modules);
    });
}
int KTUMessage2::ReadConnectedDual2(NQMessageBuffer& b, XList<KTUModuleInfo>& modules,
                                    uint16_t& value16, uint32_t& value32) {
    return ReadMessage([&] {
        b.ReadU32(value32);
        b.ReadU16(value16);
        ReadList(b, modules);
    });
}

// Type 122: the denial byte alone.
int KTUMessage2::WriteServerDenied2(NQMessageBuffer& b, uint8_t reason) {
    return WriteMessage(b, Opening::Session, KTMESSAGETYPE2_SERVERDENIED,
                        [&] { b.WriteU8(reason); });
}
int KTUMessage2::ReadServerDenied2(NQMessageBuffer& b, uint8_t& reason) {
    return ReadMessage([&] { b.ReadU8(reason); });
}

// Type 123: the server's version alone.
int KTUMessage2::WriteBadVersion2(NQMessageBuffer& b, const KTUVersion& version) {
    return WriteMessage(b, Opening::Session, KTMESSAGETYPE2_BADVERSION,
                        [&] { WriteRecord(b, version); });
}
int KTUMessage2::ReadBadVersion2(NQMessageBuffer& b, KTUVersion& version) {
    return ReadMessage([&] { ReadRecord(b, version); });
}

// Type 124: the refused modules, nothing before them.
int KTUMessage2::WriteBadModule2(NQMessageBuffer& b, const XList<KTUGuidVersion>& modules) {
    return WriteMessage(b, Opening::Session, KTMESSAGETYPE2_BADMODULE,
                        [&] { WriteList(b, modules); });
}
int KTUMessage2::ReadBadModule2(NQMessageBuffer& b, XList<KTUGuidVersion>& modules) {
    return ReadMessage([&] { ReadList(b, modules); });
}
