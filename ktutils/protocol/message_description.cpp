#include "ktutils/protocol/message_description.h"

#include <cstring>

#include "ktutils/host/nq2/nq_message_buffer.h"

namespace ktutils {
namespace {

// The fields of each payload in wire order, as the decoders read them;
// ConnectedDual2 reads its 32-bit value first although the encoder takes it
// last. Payload-free and unknown types carry none.
std::vector<MessageField> FieldsOf(uint16_t type) {
    using F = MessageField;
    switch (type) {
    case KTMESSAGETYPE2_CONNECTED: return {F::Value32, F::ModuleStates};
    case KTMESSAGETYPE2_CONNECTEDDUAL: return {F::Value32, F::Value16, F::ModuleStates};
    case KTMESSAGETYPE2_CHALLENGE: return {F::Challenge};
    case KTMESSAGETYPE2_CHALLENGECONNECT:
    case KTMESSAGETYPE2_CHALLENGECONNECTDUAL: return {F::Challenge, F::String1, F::String2, F::Version, F::Modules};
    case KTMESSAGETYPE2_SERVERINFO: return {F::Value16, F::ModuleIds};
    case KTMESSAGETYPE2_CHALLENGECONNECTEX:
    case KTMESSAGETYPE2_CHALLENGECONNECTDUALEX:
        return {F::Challenge, F::Block1, F::String1, F::Block2, F::Version, F::Modules};
    case KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED: return {F::Challenge, F::Version, F::Modules};
    case KTMESSAGETYPE2_SERVERDENIED: return {F::Reason};
    case KTMESSAGETYPE2_BADVERSION: return {F::Version};
    case KTMESSAGETYPE2_BADMODULE: return {F::Modules};
    default: return {};
    }
}

// Hands the decoder's reads to the buffer that holds the message and counts
// those that delivered a value. A refused read raises, or gives 0 where the
// buffer does not raise, and a decoder reads its fields in wire order and
// stops at the first exception: the count says how far it got, through the
// buffer's own interface alone.
class ReadCounter final : public NQMessageBuffer {
public:
    explicit ReadCounter(NQMessageBuffer& buffer) : NQMessageBuffer(0), buffer_(buffer) {}

    uint32_t ReadU8(uint8_t& value) const override { return Count(buffer_.ReadU8(value)); }
    uint32_t ReadU16(uint16_t& value) const override { return Count(buffer_.ReadU16(value)); }
    uint32_t ReadU32(uint32_t& value) const override { return Count(buffer_.ReadU32(value)); }
    uint32_t ReadString(const char*& text) const override { return Count(buffer_.ReadString(text)); }
    uint32_t ReadData(const uint8_t*& data, uint32_t length) const override {
        return Count(buffer_.ReadData(data, length));
    }
    int CurrentMsg() const override { return buffer_.CurrentMsg(); }

    std::size_t Reads() const { return reads_; }

private:
    uint32_t Count(uint32_t consumed) const {
        if (consumed != 0) ++reads_;
        return consumed;
    }

    NQMessageBuffer& buffer_;
    mutable std::size_t reads_ = 0;
};

// The fields that `reads` typed reads cover: a version takes four (its
// parts), a list none before its elements, any other field one.
std::size_t FieldsCovered(const std::vector<MessageField>& fields, std::size_t reads) {
    std::size_t covered = 0;
    for (MessageField field : fields) {
        const bool list = field == MessageField::Modules || field == MessageField::ModuleStates ||
                          field == MessageField::ModuleIds;
        const std::size_t cost = field == MessageField::Version ? 4 : list ? 0 : 1;
        if (reads < cost) break;
        reads -= cost;
        ++covered;
    }
    return covered;
}

// Runs the decoder of `m.type`; 1 also for the payload-free and unknown
// types, which have nothing to decode.
int Decode(NQMessageBuffer& b, MessageDescription& m) {
    using K = KTUMessage2;
    switch (m.type) {
    case KTMESSAGETYPE2_CONNECTED: return K::ReadConnected2(b, m.moduleStates, m.value32);
    case KTMESSAGETYPE2_CONNECTEDDUAL: return K::ReadConnectedDual2(b, m.moduleStates, m.value16, m.value32);
    case KTMESSAGETYPE2_CHALLENGE: return K::ReadChallenge2(b, m.challenge);
    case KTMESSAGETYPE2_CHALLENGECONNECT:
        return K::ReadChallengeConnect2(b, m.challenge, m.string1, m.string2, m.version, m.modules);
    case KTMESSAGETYPE2_CHALLENGECONNECTDUAL:
        return K::ReadChallengeConnectDual2(b, m.challenge, m.string1, m.string2, m.version, m.modules);
    case KTMESSAGETYPE2_SERVERINFO: return K::ReadServerInfo(b, m.value16, m.moduleIds);
    case KTMESSAGETYPE2_CHALLENGECONNECTEX:
        return K::ReadChallengeConnectSecured(b, m.challenge, m.block1, m.string1, m.block2, m.version, m.modules);
    case KTMESSAGETYPE2_CHALLENGECONNECTDUALEX:
        return K::ReadChallengeConnectDualSecured(b, m.challenge, m.block1, m.string1, m.block2, m.version,
                                                  m.modules);
    case KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED:
        return K::ReadChallengeConnectEmbedded(b, m.challenge, m.version, m.modules);
    case KTMESSAGETYPE2_SERVERDENIED: return K::ReadServerDenied2(b, m.reason);
    case KTMESSAGETYPE2_BADVERSION: return K::ReadBadVersion2(b, m.version);
    case KTMESSAGETYPE2_BADMODULE: return K::ReadBadModule2(b, m.modules);
    default: return 1;
    }
}

}  // namespace

MessageDescription DescribeMessage(NQMessageBuffer& buffer) {
    MessageDescription m;
    m.type = buffer.MsgType();
    m.known = std::strcmp(m.Name(), "UNKNOWN_MESSAGE") != 0;
    m.fields = FieldsOf(m.type);
    ReadCounter counter(buffer);
    m.damaged = Decode(counter, m) == 0;
    m.fieldsRead = FieldsCovered(m.fields, counter.Reads());
    // After a whole decode only a message without a list can have bytes
    // left: a list runs to the end of the payload.
    m.trailing = !m.damaged && buffer.CurrentMsg() != 0;
    return m;
}

}  // namespace ktutils
