// The twelve messages with a payload: round trips through the real buffer,
// the exact calls the codec makes, and what it does when the buffer fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "buffer_test_util.h"
#include "ktutils/ktutils.h"
#include "message_fixtures.h"
#include "mock_message_buffer.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::ElementsAreArray;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::StrictMock;
using ::testing::Throw;

template <class T>
std::vector<T> Items(const XList<T>& list) {
    return std::vector<T>(list.begin(), list.end());
}

std::vector<fixture::Message> PayloadMessages() {
    std::vector<fixture::Message> result;
    for (const fixture::Message& m : fixture::Messages()) {
        if (m.decode != nullptr) result.push_back(m);
    }
    return result;
}

// Makes the frames that `write` puts into a buffer current in a receiver.
template <class Write>
void Transmit(NQMessageBuffer& receiver, Write&& write) {
    NQMessageBuffer sender;
    ASSERT_EQ(write(sender), 1);
    Feed(receiver, sender.TakeOutput());
    ASSERT_TRUE(receiver.NextMsg());
}

KTUGuidVersion Module(uint32_t id1, uint32_t id2, uint32_t version) {
    KTUGuidVersion m;
    m.guid = {id1, id2};
    m.version = version;
    return m;
}

// ---------------------------------------------------------------- round trips

TEST(RoundTrip, EveryPayloadMessageGivesBackItsArguments) {
    const auto messages = PayloadMessages();
    ASSERT_EQ(messages.size(), 12u);
    for (const fixture::Message& m : messages) {
        SCOPED_TRACE(m.encoder);
        NQMessageBuffer in;
        Transmit(in, m.write);
        m.expectFixture(in);
    }
}

TEST(RoundTrip, ChallengeConnectWithNeverAssignedTextsAndNoModules) {
    const XString neverAssigned;
    ASSERT_EQ(neverAssigned.GetBuffer(), nullptr);
    NQMessageBuffer in;
    Transmit(in, [&](NQMessageBuffer& b) {
        return KTUMessage2::WriteChallengeConnect2(b, 0xFFFFFFFF, neverAssigned, XString(""),
                                                   KTUVersion(9, 8, 7, 6), {});
    });
    uint32_t challenge = 0;
    XString s1("old1"), s2("old2");
    KTUVersion version;
    XList<KTUGuidVersion> modules;
    modules.Append(Module(1, 1, 1));
    EXPECT_EQ(KTUMessage2::ReadChallengeConnect2(in, challenge, s1, s2, version, modules), 1);
    EXPECT_EQ(challenge, 0xFFFFFFFFu);
    EXPECT_STREQ(s1.CStr(), "");  // an empty text makes the target empty
    EXPECT_STREQ(s2.CStr(), "");
    EXPECT_EQ(version, KTUVersion(9, 8, 7, 6));
    EXPECT_EQ(Items(modules), (std::vector<KTUGuidVersion>{Module(1, 1, 1)}));
}

TEST(RoundTrip, TheSecuredFormsCarryZeroAndAllOnesBlocksExactly) {
    unsigned char zeros[16] = {};
    unsigned char ones[16];
    std::memset(ones, 0xFF, sizeof ones);
    for (bool dual : {false, true}) {
        SCOPED_TRACE(dual ? "dual" : "single");
        NQMessageBuffer in;
        Transmit(in, [&](NQMessageBuffer& b) {
            return dual ? KTUMessage2::WriteChallengeConnectDualSecured(b, 0, zeros, XString(),
                                                                        ones, KTUVersion(), {})
                        : KTUMessage2::WriteChallengeConnectSecured(b, 0, zeros, XString(), ones,
                                                                    KTUVersion(), {});
        });
        uint32_t challenge = 1;
        unsigned char block1[16], block2[16];
        std::memset(block1, 0x77, sizeof block1);
        std::memset(block2, 0x77, sizeof block2);
        XString text("old");
        KTUVersion version(5, 5, 5, 5);
        XList<KTUGuidVersion> modules;
        const int read =
            dual ? KTUMessage2::ReadChallengeConnectDualSecured(in, challenge, block1, text,
                                                                block2, version, modules)
                 : KTUMessage2::ReadChallengeConnectSecured(in, challenge, block1, text, block2,
                                                            version, modules);
        EXPECT_EQ(read, 1);
        EXPECT_EQ(challenge, 0u);
        EXPECT_THAT(block1, ElementsAreArray(zeros));
        EXPECT_THAT(block2, ElementsAreArray(ones));
        EXPECT_STREQ(text.CStr(), "");
        EXPECT_EQ(version, KTUVersion());
        EXPECT_TRUE(modules.IsEmpty());
    }
}

TEST(RoundTrip, EmptyListsLeaveOnlyTheFixedFields) {
    NQMessageBuffer connected;
    Transmit(connected, [](NQMessageBuffer& b) { return KTUMessage2::WriteConnected2(b, {}, 77); });
    uint32_t value = 0;
    XList<KTUModuleInfo> infos;
    EXPECT_EQ(KTUMessage2::ReadConnected2(connected, infos, value), 1);
    EXPECT_EQ(value, 77u);
    EXPECT_TRUE(infos.IsEmpty());

    NQMessageBuffer badModule;
    Transmit(badModule, [](NQMessageBuffer& b) { return KTUMessage2::WriteBadModule2(b, {}); });
    EXPECT_EQ(badModule.CurrentMsg(), 0);  // an empty payload
    XList<KTUGuidVersion> modules;
    modules.Append(Module(4, 4, 4));
    EXPECT_EQ(KTUMessage2::ReadBadModule2(badModule, modules), 1);
    EXPECT_EQ(modules.GetCount(), 1u);

    NQMessageBuffer serverInfo;
    Transmit(serverInfo, [](NQMessageBuffer& b) { return KTUMessage2::WriteServerInfo(b, 5, {}); });
    uint16_t value16 = 0;
    XList<KTUGUID> ids;
    EXPECT_EQ(KTUMessage2::ReadServerInfo(serverInfo, value16, ids), 1);
    EXPECT_EQ(value16, 5);
    EXPECT_TRUE(ids.IsEmpty());
}

TEST(RoundTrip, ReceivedElementsFollowTheOnesAlreadyThereInWireOrder) {
    XList<KTUGuidVersion> sent;
    sent.Append(Module(10, 0, 0));
    sent.Append(Module(11, 0, 0));
    XList<KTUGuidVersion> received;
    for (uint32_t i = 0; i < 3; ++i) received.Append(Module(i, 0, 0));
    NQMessageBuffer in;
    Transmit(in, [&](NQMessageBuffer& b) { return KTUMessage2::WriteBadModule2(b, sent); });
    EXPECT_EQ(KTUMessage2::ReadBadModule2(in, received), 1);
    EXPECT_EQ(received.GetCount(), 5u);
    std::vector<uint32_t> ids;
    for (const KTUGuidVersion& m : received) ids.push_back(m.guid.id1);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 1, 2, 10, 11}));
}

TEST(RoundTrip, TheTwinTypesDecodeEachOthersPayload) {
    // 21 read by 22's decoder and 28 read by 27's: only the type differs.
    NQMessageBuffer in;
    Transmit(in, fixture::ByEncoder("WriteChallengeConnect2").write);
    ASSERT_EQ(in.MsgType(), 21);
    uint32_t challenge = 0;
    XString s1, s2;
    KTUVersion version;
    XList<KTUGuidVersion> modules;
    EXPECT_EQ(KTUMessage2::ReadChallengeConnectDual2(in, challenge, s1, s2, version, modules), 1);
    EXPECT_STREQ(s2.CStr(), fixture::kString2);
    EXPECT_EQ(Items(modules), Items(fixture::GuidVersions()));

    NQMessageBuffer secured;
    Transmit(secured, fixture::ByEncoder("WriteChallengeConnectDualSecured").write);
    ASSERT_EQ(secured.MsgType(), 28);
    unsigned char b1[16] = {}, b2[16] = {};
    XList<KTUGuidVersion> securedModules;
    EXPECT_EQ(KTUMessage2::ReadChallengeConnectSecured(secured, challenge, b1, s1, b2, version,
                                                       securedModules),
              1);
    EXPECT_THAT(b2, ElementsAreArray(fixture::kBlock2));
}

TEST(RoundTrip, ReadChallengeReadsItsWordAndIgnoresTheRest) {
    NQMessageBuffer in;
    Transmit(in, [](NQMessageBuffer& b) {
        b.BeginWriteMsg(0, KTMESSAGETYPE2_CHALLENGE);
        b.WriteU32(0xA5A5A5A5);
        b.WriteString("more than one field");
        b.EndWriteMsg();
        return 1;
    });
    uint32_t challenge = 0;
    EXPECT_EQ(KTUMessage2::ReadChallenge2(in, challenge), 1);
    EXPECT_EQ(challenge, 0xA5A5A5A5u);
}

// ------------------------------------------------------------- recorded calls

TEST(RecordedCalls, SecuredConnectWritesEveryFieldInWireOrder) {
    unsigned char block1[16], block2[16];
    std::memcpy(block1, fixture::kBlock1, 16);
    std::memcpy(block2, fixture::kBlock2, 16);
    const auto sameBlock = [](const unsigned char* expected) {
        return ::testing::Truly([expected](const uint8_t* p) { return std::memcmp(p, expected, 16) == 0; });
    };
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, BeginWriteMsg(0, 27)).WillOnce(Return(8));
    EXPECT_CALL(b, WriteU32(fixture::kChallenge));
    EXPECT_CALL(b, WriteData(sameBlock(fixture::kBlock1), 16u));
    EXPECT_CALL(b, WriteString(::testing::StrEq(fixture::kString1)));
    EXPECT_CALL(b, WriteData(sameBlock(fixture::kBlock2), 16u));
    for (uint8_t part : {1, 2, 3, 4}) EXPECT_CALL(b, WriteU8(part));
    for (const KTUGuidVersion& m : fixture::GuidVersions()) {
        EXPECT_CALL(b, WriteU32(m.guid.id1));
        EXPECT_CALL(b, WriteU32(m.guid.id2));
        EXPECT_CALL(b, WriteU32(m.version));
    }
    EXPECT_CALL(b, EndWriteMsg());
    EXPECT_EQ(KTUMessage2::WriteChallengeConnectSecured(b, fixture::kChallenge, block1,
                                                        fixture::kString1, block2,
                                                        fixture::Version(), fixture::GuidVersions()),
              1);
}

TEST(RecordedCalls, ConnectedDualWritesTheWideValueFirst) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, BeginWriteMsg(0, 15)).WillOnce(Return(8));
    EXPECT_CALL(b, WriteU32(0x01020304u));
    EXPECT_CALL(b, WriteU16(0xBEEF));
    for (const KTUModuleInfo& m : fixture::ModuleInfos()) {
        EXPECT_CALL(b, WriteU32(m.guid.id1));
        EXPECT_CALL(b, WriteU32(m.guid.id2));
        EXPECT_CALL(b, WriteU8(m.state));
    }
    EXPECT_CALL(b, EndWriteMsg());
    EXPECT_EQ(KTUMessage2::WriteConnectedDual2(b, fixture::ModuleInfos(), 0xBEEF, 0x01020304), 1);
}

TEST(RecordedCalls, ServerInfoOpensWithTheTypeAlone) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, BeginWriteMsg(uint16_t{26})).WillOnce(Return(8));
    EXPECT_CALL(b, WriteU16(fixture::kServerInfoValue));
    EXPECT_CALL(b, WriteU32(0xDEADBEEFu));
    EXPECT_CALL(b, WriteU32(0xCAFEF00Du));
    EXPECT_CALL(b, EndWriteMsg());
    EXPECT_EQ(KTUMessage2::WriteServerInfo(b, fixture::kServerInfoValue, fixture::Guids()), 1);
}

TEST(RecordedCalls, WritesThatReturnZeroStillSealEveryMessage) {
    for (const fixture::Message& m : PayloadMessages()) {
        SCOPED_TRACE(m.encoder);
        NiceMock<MockMessageBuffer> b;  // every write answers 0
        ON_CALL(b, BeginWriteMsg(_, _)).WillByDefault(Return(8));
        ON_CALL(b, BeginWriteMsg(_)).WillByDefault(Return(8));
        EXPECT_CALL(b, EndWriteMsg()).Times(1);
        EXPECT_CALL(b, CancelMsg()).Times(0);
        EXPECT_EQ(m.write(b), 1);
    }
}

TEST(RecordedCalls, AThirdReadThatThrowsKeepsTheFirstTwo) {
    StrictMock<MockMessageBuffer> b;
    const char* received = "first";
    InSequence order;
    EXPECT_CALL(b, ReadU32(_)).WillOnce(DoAll(SetArgReferee<0>(42u), Return(4)));
    EXPECT_CALL(b, ReadString(_)).WillOnce(DoAll(SetArgReferee<0>(received), Return(6)));
    EXPECT_CALL(b, ReadString(_)).WillOnce(Throw(InjectedFault{}));
    uint32_t challenge = 0;
    XString s1("a"), s2("b");
    KTUVersion version(9, 9, 9, 9);
    XList<KTUGuidVersion> modules;
    EXPECT_EQ(KTUMessage2::ReadChallengeConnect2(b, challenge, s1, s2, version, modules), 0);
    EXPECT_EQ(challenge, 42u);
    EXPECT_STREQ(s1.CStr(), "first");
    EXPECT_STREQ(s2.CStr(), "b");
    EXPECT_EQ(version, KTUVersion(9, 9, 9, 9));
}

TEST(RecordedCalls, NothingHandedOutLeavesTextsAndBlocksAsTheyWere) {
    StrictMock<MockMessageBuffer> b;
    const char* empty = "";
    InSequence order;
    EXPECT_CALL(b, ReadU32(_)).WillOnce(Return(4));
    EXPECT_CALL(b, ReadData(_, 16u)).WillOnce(Return(0));  // pointer stays null
    EXPECT_CALL(b, ReadString(_)).WillOnce(Return(0));     // pointer stays null
    EXPECT_CALL(b, ReadData(_, 16u)).WillOnce(Return(0));
    EXPECT_CALL(b, ReadU8(_)).Times(4);
    EXPECT_CALL(b, CurrentMsg()).WillOnce(Return(0));
    uint32_t challenge = 0;
    unsigned char block1[16], block2[16];
    std::memset(block1, 0x11, 16);
    std::memset(block2, 0x22, 16);
    XString text("kept");
    KTUVersion version;
    XList<KTUGuidVersion> modules;
    EXPECT_EQ(KTUMessage2::ReadChallengeConnectSecured(b, challenge, block1, text, block2,
                                                       version, modules),
              1);
    EXPECT_STREQ(text.CStr(), "kept");
    EXPECT_EQ(block1[0], 0x11);
    EXPECT_EQ(block1[15], 0x11);
    EXPECT_EQ(block2[15], 0x22);

    // An empty text handed out does replace the target.
    StrictMock<MockMessageBuffer> c;
    EXPECT_CALL(c, ReadU32(_)).WillOnce(Return(4));
    EXPECT_CALL(c, ReadString(_)).WillRepeatedly(DoAll(SetArgReferee<0>(empty), Return(1)));
    EXPECT_CALL(c, ReadU8(_)).Times(4);
    EXPECT_CALL(c, CurrentMsg()).WillOnce(Return(0));
    XString s1("x"), s2("y");
    EXPECT_EQ(KTUMessage2::ReadChallengeConnect2(c, challenge, s1, s2, version, modules), 1);
    EXPECT_STREQ(s1.CStr(), "");
    EXPECT_STREQ(s2.CStr(), "");
}

// --------------------------------------------------------- injected failures

// A real buffer whose every operation counts, and whose `failAt`-th
// operation throws instead of running.
class FaultyBuffer : public NQMessageBuffer {
public:
    explicit FaultyBuffer(int failAt) : failAt_(failAt) {}
    mutable int calls = 0;
    int cancels = 0;

    uint32_t BeginWriteMsg(uint8_t c, uint16_t t) override { Step(); return NQMessageBuffer::BeginWriteMsg(c, t); }
    uint32_t BeginWriteMsg(uint16_t t) override { Step(); return NQMessageBuffer::BeginWriteMsg(t); }
    uint32_t EndWriteMsg() override { Step(); return NQMessageBuffer::EndWriteMsg(); }
    void CancelMsg() override { ++cancels; NQMessageBuffer::CancelMsg(); }
    int CurrentMsg() const override { Step(); return NQMessageBuffer::CurrentMsg(); }
    uint32_t WriteU8(uint8_t v) override { Step(); return NQMessageBuffer::WriteU8(v); }
    uint32_t WriteU16(uint16_t v) override { Step(); return NQMessageBuffer::WriteU16(v); }
    uint32_t WriteU32(uint32_t v) override { Step(); return NQMessageBuffer::WriteU32(v); }
    uint32_t WriteString(const char* t) override { Step(); return NQMessageBuffer::WriteString(t); }
    uint32_t WriteData(const uint8_t* d, uint32_t n) override { Step(); return NQMessageBuffer::WriteData(d, n); }
    uint32_t ReadU8(uint8_t& v) const override { Step(); return NQMessageBuffer::ReadU8(v); }
    uint32_t ReadU16(uint16_t& v) const override { Step(); return NQMessageBuffer::ReadU16(v); }
    uint32_t ReadU32(uint32_t& v) const override { Step(); return NQMessageBuffer::ReadU32(v); }
    uint32_t ReadString(const char*& t) const override { Step(); return NQMessageBuffer::ReadString(t); }
    uint32_t ReadData(const uint8_t*& d, uint32_t n) const override { Step(); return NQMessageBuffer::ReadData(d, n); }

private:
    void Step() const {
        if (calls++ == failAt_) throw InjectedFault{};
    }
    int failAt_;
};

TEST(InjectedFailures, AnEncoderCancelsOnceWhicheverCallThrows) {
    for (const fixture::Message& m : PayloadMessages()) {
        SCOPED_TRACE(m.encoder);
        FaultyBuffer counting(-1);
        ASSERT_EQ(m.write(counting), 1);
        ASSERT_GE(counting.calls, 3);  // opening, at least one write, seal
        for (int failAt = 0; failAt < counting.calls; ++failAt) {
            SCOPED_TRACE("failing call " + std::to_string(failAt));
            FaultyBuffer b(failAt);
            EXPECT_EQ(m.write(b), 0);
            EXPECT_EQ(b.cancels, 1);
            EXPECT_EQ(b.OutputSize(), 0u);
            EXPECT_FALSE(b.IsWriting());
        }
    }
}

TEST(InjectedFailures, ADecoderReturnsZeroWhicheverReadThrows) {
    for (const fixture::Message& m : PayloadMessages()) {
        SCOPED_TRACE(m.encoder);
        const std::vector<uint8_t> frame = fixture::Encode(m);
        FaultyBuffer counting(-1);
        Feed(counting, frame);
        ASSERT_TRUE(counting.NextMsg());
        ASSERT_EQ(m.decode(counting), 1);
        for (int failAt = 0; failAt < counting.calls; ++failAt) {
            SCOPED_TRACE("failing read " + std::to_string(failAt));
            FaultyBuffer b(failAt);
            Feed(b, frame);
            ASSERT_TRUE(b.NextMsg());
            EXPECT_EQ(m.decode(b), 0);
        }
    }
}

TEST(InjectedFailures, AnEncoderWhoseOpeningIsRefusedCallsNothingElse) {
    for (const fixture::Message& m : PayloadMessages()) {
        SCOPED_TRACE(m.encoder);
        StrictMock<MockMessageBuffer> b;
        EXPECT_CALL(b, BeginWriteMsg(_, m.type)).Times(m.type == 26 ? 0 : 1).WillRepeatedly(Return(0));
        EXPECT_CALL(b, BeginWriteMsg(m.type)).Times(m.type == 26 ? 1 : 0).WillRepeatedly(Return(0));
        EXPECT_EQ(m.write(b), 0);
    }
}

}  // namespace
