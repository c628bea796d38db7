#include "tools/text/decoded_message.h"

#include <cstring>
#include <map>

namespace ktutils::tool {

const std::vector<Field>& FieldsOf(uint16_t type) {
    using F = Field;
    // Wire order, as the decoders read them; ConnectedDual2 puts its 32-bit
    // value first although the encoder takes it last.
    static const std::map<uint16_t, std::vector<Field>> fields = {
        {KTMESSAGETYPE2_CONNECTED, {F::Value32, F::Accepted}},
        {KTMESSAGETYPE2_CONNECTEDDUAL, {F::Value32, F::Value16, F::Accepted}},
        {KTMESSAGETYPE2_CHALLENGE, {F::Challenge}},
        {KTMESSAGETYPE2_CHALLENGECONNECT,
         {F::Challenge, F::String1, F::String2, F::Version, F::Modules}},
        {KTMESSAGETYPE2_CHALLENGECONNECTDUAL,
         {F::Challenge, F::String1, F::String2, F::Version, F::Modules}},
        {KTMESSAGETYPE2_SERVERINFO, {F::Value16, F::ModuleIds}},
        {KTMESSAGETYPE2_CHALLENGECONNECTEX,
         {F::Challenge, F::Block1, F::String1, F::Block2, F::Version, F::Modules}},
        {KTMESSAGETYPE2_CHALLENGECONNECTDUALEX,
         {F::Challenge, F::Block1, F::String1, F::Block2, F::Version, F::Modules}},
        {KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED, {F::Challenge, F::Version, F::Modules}},
        {KTMESSAGETYPE2_SERVERDENIED, {F::Denial}},
        {KTMESSAGETYPE2_BADVERSION, {F::Version}},
        {KTMESSAGETYPE2_BADMODULE, {F::Modules}},
    };
    static const std::vector<Field> none;
    const auto it = fields.find(type);
    return it != fields.end() ? it->second : none;
}

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

namespace {

// Runs the decoder of `m.type`; 1 also for the payload-free types, whose
// arrival is the whole message.
int Decode(NQMessageBuffer& b, DecodedMessage& m) {
    using K = KTUMessage2;
    switch (m.type) {
    case KTMESSAGETYPE2_CONNECTED:
        return K::ReadConnected2(b, m.accepted, m.value32);
    case KTMESSAGETYPE2_CONNECTEDDUAL:
        return K::ReadConnectedDual2(b, m.accepted, m.value16, m.value32);
    case KTMESSAGETYPE2_CHALLENGE:
        return K::ReadChallenge2(b, m.challenge);
    case KTMESSAGETYPE2_CHALLENGECONNECT:
        return K::ReadChallengeConnect2(b, m.challenge, m.string1, m.string2, m.version,
                                        m.modules);
    case KTMESSAGETYPE2_CHALLENGECONNECTDUAL:
        return K::ReadChallengeConnectDual2(b, m.challenge, m.string1, m.string2, m.version,
                                            m.modules);
    case KTMESSAGETYPE2_SERVERINFO:
        return K::ReadServerInfo(b, m.value16, m.moduleIds);
    case KTMESSAGETYPE2_CHALLENGECONNECTEX:
        return K::ReadChallengeConnectSecured(b, m.challenge, m.block1, m.string1, m.block2,
                                              m.version, m.modules);
    case KTMESSAGETYPE2_CHALLENGECONNECTDUALEX:
        return K::ReadChallengeConnectDualSecured(b, m.challenge, m.block1, m.string1, m.block2,
                                                  m.version, m.modules);
    case KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED:
        return K::ReadChallengeConnectEmbedded(b, m.challenge, m.version, m.modules);
    case KTMESSAGETYPE2_SERVERDENIED:
        return K::ReadServerDenied2(b, m.denial);
    case KTMESSAGETYPE2_BADVERSION:
        return K::ReadBadVersion2(b, m.version);
    case KTMESSAGETYPE2_BADMODULE:
        return K::ReadBadModule2(b, m.modules);
    default:
        return 1;
    }
}

// The unread payload of the current message, in bytes: the buffer keeps its
// read window for subclasses, and a pointer to that member, formed here,
// reads it on any buffer.
struct ReadWindow : NQMessageBuffer {
    static std::size_t Unread(const NQMessageBuffer& b) {
        return b.*(&ReadWindow::read_end_) - b.*(&ReadWindow::read_pos_);
    }
};

// The fields a refusing decoder took whole, from the bytes it consumed: a
// refused read consumes nothing, so the field it failed on, and all after
// it, are the ones not read.
std::size_t FieldsTaken(const DecodedMessage& m, std::size_t consumed) {
    std::size_t taken = 0;
    for (Field field : FieldsOf(m.type)) {
        std::size_t size = 4;
        switch (field) {
        case Field::Value16: size = 2; break;
        case Field::Denial: size = 1; break;
        case Field::Block1:
        case Field::Block2: size = 16; break;
        case Field::String1: size = std::strlen(m.string1.CStr()) + 1; break;
        case Field::String2: size = std::strlen(m.string2.CStr()) + 1; break;
        case Field::Modules:
        case Field::Accepted:
        case Field::ModuleIds: return taken + 1;  // last; holds what was read
        default: break;
        }
        if (consumed < size) break;
        consumed -= size;
        ++taken;
    }
    return taken;
}

}  // namespace

DecodedMessage DecodeCurrentMessage(NQMessageBuffer& buffer) {
    DecodedMessage m;
    m.offset = buffer.MsgOffset();
    m.type = buffer.MsgType();
    m.known = std::strcmp(KTUMessage2::KTUMessage2TypeToString(m.type), "UNKNOWN_MESSAGE") != 0;
    const std::size_t payload = ReadWindow::Unread(buffer);
    m.damaged = Decode(buffer, m) == 0;
    if (m.damaged) m.fieldsRead = FieldsTaken(m, payload - ReadWindow::Unread(buffer));
    // After a whole decode, only a message without a list can have bytes left.
    m.trailing = !m.damaged && buffer.CurrentMsg() != 0;
    return m;
}

}  // namespace ktutils::tool
