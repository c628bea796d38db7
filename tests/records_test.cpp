// Record wire forms, the list rule and the framing discipline that the
// payload encoders and decoders share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "buffer_test_util.h"
#include "ktutils/ktutils.h"
#include "mock_message_buffer.h"
#include "ktutils/protocol/detail/message_framing.h"
#include "ktutils/protocol/detail/record_wire.h"

namespace {

using namespace ktutils::detail;
using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::StrictMock;
using ::testing::Throw;

KTUGuidVersion Module(uint32_t id1, uint32_t id2, uint32_t version) {
    KTUGuidVersion m;
    m.guid.id1 = id1;
    m.guid.id2 = id2;
    m.version = version;
    return m;
}

TEST(Records, DefaultConstructionZeroesEveryField) {
    const KTUVersion v;
    const KTUGUID g;
    const KTUGuidVersion gv;
    const KTUModuleInfo mi;
    EXPECT_EQ(v, KTUVersion(0, 0, 0, 0));
    EXPECT_EQ(g.id1 | g.id2, 0u);
    EXPECT_EQ(gv.guid.id1 | gv.guid.id2 | gv.version, 0u);
    EXPECT_EQ(mi.guid.id1 | mi.guid.id2 | mi.state, 0u);
}

TEST(RecordWire, VersionIsFourBytesPartZeroFirst) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, WriteU8(1));
    EXPECT_CALL(b, WriteU8(2));
    EXPECT_CALL(b, WriteU8(3));
    EXPECT_CALL(b, WriteU8(4));
    WriteRecord(b, KTUVersion(1, 2, 3, 4));
}

TEST(RecordWire, ModuleInfoIsTwoWordsThenTheStateByte) {
    KTUModuleInfo m;
    m.guid.id1 = 0x11111111;
    m.guid.id2 = 0x22222222;
    m.state = 255;
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, WriteU32(0x11111111u));
    EXPECT_CALL(b, WriteU32(0x22222222u));
    EXPECT_CALL(b, WriteU8(255));
    WriteRecord(b, m);
}

TEST(RecordWire, GuidVersionIsIdOneIdTwoVersion) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, WriteU32(7u));
    EXPECT_CALL(b, WriteU32(8u));
    EXPECT_CALL(b, WriteU32(9u));
    WriteRecord(b, Module(7, 8, 9));
}

// Writes `list` as the whole payload of one message and makes it current in
// a receiving buffer.
template <class T>
void Transmit(const XList<T>& list, NQMessageBuffer& receiver, std::size_t cutBytes = 0) {
    NQMessageBuffer w;
    ASSERT_EQ(WriteMessage(w, Opening::Session, 124, [&] { WriteList(w, list); }), 1);
    std::vector<uint8_t> bytes = w.TakeOutput();
    // Cutting the payload means rewriting its declared length too.
    bytes.resize(bytes.size() - cutBytes);
    bytes[0] = static_cast<uint8_t>(bytes.size() - NQMessageBuffer::kHeaderSize);
    Feed(receiver, bytes);
    ASSERT_TRUE(receiver.NextMsg());
}

TEST(ListRule, ElementsAreAppendedBehindExistingOnesInWireOrder) {
    XList<KTUGuidVersion> sent;
    sent.Append(Module(1, 2, 3));
    sent.Append(Module(4, 5, 6));
    XList<KTUGuidVersion> received;
    for (uint32_t i = 0; i < 3; ++i) received.Append(Module(100 + i, 0, 0));

    NQMessageBuffer r;
    Transmit(sent, r);
    EXPECT_EQ(ReadMessage([&] { ReadList(r, received); }), 1);
    ASSERT_EQ(received.GetCount(), 5u);
    std::vector<uint32_t> firstIds;
    for (const KTUGuidVersion& m : received) firstIds.push_back(m.guid.id1);
    EXPECT_EQ(firstIds, (std::vector<uint32_t>{100, 101, 102, 1, 4}));
    EXPECT_EQ(*std::prev(received.end()), Module(4, 5, 6));
}

TEST(ListRule, AnEmptyListWritesNothingAndAppendsNothing) {
    NQMessageBuffer r;
    Transmit(XList<KTUModuleInfo>(), r);
    EXPECT_EQ(r.CurrentMsg(), 0);
    XList<KTUModuleInfo> received;
    EXPECT_EQ(ReadMessage([&] { ReadList(r, received); }), 1);
    EXPECT_TRUE(received.IsEmpty());
}

TEST(ListRule, APayloadCutInsideAnElementKeepsOnlyTheCompleteOnes) {
    XList<KTUGuidVersion> sent;
    for (uint32_t i = 1; i <= 3; ++i) sent.Append(Module(i, i, i));
    for (std::size_t cut = 1; cut < 12; ++cut) {
        NQMessageBuffer r;
        Transmit(sent, r, cut);
        XList<KTUGuidVersion> received;
        EXPECT_EQ(ReadMessage([&] { ReadList(r, received); }), 0) << cut;
        ASSERT_EQ(received.GetCount(), 2u) << cut;
        EXPECT_EQ(*std::prev(received.end()), Module(2, 2, 2));
    }
}

TEST(ListRule, TheScratchRecordIsZeroedOnceAndAskedBeforeEachElement) {
    // Two elements; the second one's reads store nothing, as a lenient
    // buffer might: its fields keep the first element's values.
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, CurrentMsg()).WillOnce(Return(1));
    EXPECT_CALL(b, ReadU32(_)).WillOnce(DoAll(SetArgReferee<0>(5u), Return(4)));
    EXPECT_CALL(b, ReadU32(_)).WillOnce(DoAll(SetArgReferee<0>(6u), Return(4)));
    EXPECT_CALL(b, ReadU8(_)).WillOnce(DoAll(SetArgReferee<0>(uint8_t{7}), Return(1)));
    EXPECT_CALL(b, CurrentMsg()).WillOnce(Return(1));
    EXPECT_CALL(b, ReadU32(_)).WillOnce(Return(0));
    EXPECT_CALL(b, ReadU32(_)).WillOnce(Return(0));
    EXPECT_CALL(b, ReadU8(_)).WillOnce(Return(0));
    EXPECT_CALL(b, CurrentMsg()).WillOnce(Return(0));
    XList<KTUModuleInfo> received;
    EXPECT_EQ(ReadMessage([&] { ReadList(b, received); }), 1);
    ASSERT_EQ(received.GetCount(), 2u);
    EXPECT_EQ(*received.begin(), *std::prev(received.end()));
    EXPECT_EQ(received.begin()->state, 7);
}

TEST(FramingDiscipline, ARefusedOpeningCallsNothingElse) {
    StrictMock<MockMessageBuffer> b;
    EXPECT_CALL(b, BeginWriteMsg(0, 14)).WillOnce(Return(0));
    bool bodyRan = false;
    EXPECT_EQ(WriteMessage(b, Opening::Session, 14, [&] { bodyRan = true; }), 0);
    EXPECT_FALSE(bodyRan);
}

TEST(FramingDiscipline, TheDiscoveryOpeningPassesTheTypeAlone) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, BeginWriteMsg(uint16_t{26})).WillOnce(Return(8));
    EXPECT_CALL(b, WriteU16(3));
    EXPECT_CALL(b, EndWriteMsg());
    EXPECT_EQ(WriteMessage(b, Opening::Discovery, 26, [&] { b.WriteU16(3); }), 1);
}

TEST(FramingDiscipline, WritesThatReturnZeroDoNotStopTheEncoder) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, BeginWriteMsg(0, 20)).WillOnce(Return(8));
    EXPECT_CALL(b, WriteU32(1u)).WillOnce(Return(0));
    EXPECT_CALL(b, WriteU32(2u)).WillOnce(Return(0));
    EXPECT_CALL(b, EndWriteMsg()).WillOnce(Return(0));
    EXPECT_EQ(WriteMessage(b, Opening::Session, 20, [&] {
                  b.WriteU32(1);
                  b.WriteU32(2);
              }),
              1);
}

TEST(FramingDiscipline, AnExceptionAnywhereCancelsOnceAndReturnsZero) {
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(failing);
        StrictMock<MockMessageBuffer> b;
        InSequence order;
        auto& open = EXPECT_CALL(b, BeginWriteMsg(0, 20));
        if (failing == 0) {
            open.WillOnce(Throw(InjectedFault{}));
        } else {
            open.WillOnce(Return(8));
            auto& write = EXPECT_CALL(b, WriteU32(1u));
            if (failing == 1) {
                write.WillOnce(Throw(InjectedFault{}));
            } else {
                write.WillOnce(Return(4));
                EXPECT_CALL(b, EndWriteMsg()).WillOnce(Throw(InjectedFault{}));
            }
        }
        EXPECT_CALL(b, CancelMsg()).Times(1);
        EXPECT_EQ(WriteMessage(b, Opening::Session, 20, [&] { b.WriteU32(1); }), 0);
    }
}

TEST(FramingDiscipline, AThrowingCancelStillReturnsZero) {
    StrictMock<MockMessageBuffer> b;
    EXPECT_CALL(b, BeginWriteMsg(0, 20)).WillOnce(Throw(InjectedFault{}));
    EXPECT_CALL(b, CancelMsg()).WillOnce(Throw(InjectedFault{}));
    EXPECT_EQ(WriteMessage(b, Opening::Session, 20, [] {}), 0);
}

TEST(FramingDiscipline, ADecoderKeepsWhatItStoredBeforeAnException) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    EXPECT_CALL(b, ReadU32(_)).WillOnce(DoAll(SetArgReferee<0>(11u), Return(4)));
    EXPECT_CALL(b, ReadU32(_)).WillOnce(DoAll(SetArgReferee<0>(22u), Return(4)));
    EXPECT_CALL(b, ReadU32(_)).WillOnce(Throw(InjectedFault{}));
    uint32_t first = 0, second = 0, third = 33;
    EXPECT_EQ(ReadMessage([&] {
                  b.ReadU32(first);
                  b.ReadU32(second);
                  b.ReadU32(third);
              }),
              0);
    EXPECT_EQ(first, 11u);
    EXPECT_EQ(second, 22u);
    EXPECT_EQ(third, 33u);
}

}  // namespace
