#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "buffer_test_util.h"
#include "ktutils/ktutils.h"
#include "mock_message_buffer.h"

namespace {

using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;
using ::testing::Throw;

struct PayloadFree {
    const char* name;
    int (*write)(NQMessageBuffer&);
    uint16_t type;
    bool discovery;  // opened with the type alone
};

const PayloadFree kPayloadFree[] = {
    {"WriteShutdown2", KTUMessage2::WriteShutdown2, 16, false},
    {"WritePing2", KTUMessage2::WritePing2, 17, false},
    {"WriteBeginChallenge2", KTUMessage2::WriteBeginChallenge2, 18, false},
    {"WriteBeginChallengeSSL2", KTUMessage2::WriteBeginChallengeSSL2, 19, false},
    {"WriteKeepAlive2", KTUMessage2::WriteKeepAlive2, 23, false},
    {"WriteSSL2", KTUMessage2::WriteSSL2, 24, false},
    {"WriteLookForServer", KTUMessage2::WriteLookForServer, 25, true},
    {"WriteConnectionError2", KTUMessage2::WriteConnectionError2, 120, false},
    {"WriteServerFull2", KTUMessage2::WriteServerFull2, 121, false},
    {"WriteNotConnectedYet2", KTUMessage2::WriteNotConnectedYet2, 125, false},
    {"WriteAlreadyConnected2", KTUMessage2::WriteAlreadyConnected2, 126, false},
};

void PrintTo(const PayloadFree& p, std::ostream* os) { *os << p.name; }

class PayloadFreeEncoder : public ::testing::TestWithParam<PayloadFree> {
protected:
    // Expects the one opening call of the message, answering with `opened`.
    void ExpectOpening(StrictMock<MockMessageBuffer>& b, uint32_t opened) {
        if (GetParam().discovery) {
            EXPECT_CALL(b, BeginWriteMsg(GetParam().type)).WillOnce(Return(opened));
        } else {
            EXPECT_CALL(b, BeginWriteMsg(0, GetParam().type)).WillOnce(Return(opened));
        }
    }
};

TEST_P(PayloadFreeEncoder, OpensWithItsOwnCallThenSeals) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    ExpectOpening(b, 8);
    EXPECT_CALL(b, EndWriteMsg()).WillOnce(Return(8));
    EXPECT_EQ(GetParam().write(b), 1);
}

TEST_P(PayloadFreeEncoder, ARefusedOpeningReturnsZeroAndCallsNothingElse) {
    StrictMock<MockMessageBuffer> b;
    ExpectOpening(b, 0);
    EXPECT_EQ(GetParam().write(b), 0);
}

TEST_P(PayloadFreeEncoder, AnOpeningExceptionReachesTheCallerUncancelled) {
    StrictMock<MockMessageBuffer> b;
    if (GetParam().discovery) {
        EXPECT_CALL(b, BeginWriteMsg(GetParam().type)).WillOnce(Throw(InjectedFault{}));
    } else {
        EXPECT_CALL(b, BeginWriteMsg(0, GetParam().type)).WillOnce(Throw(InjectedFault{}));
    }
    EXPECT_THROW(GetParam().write(b), InjectedFault);
}

TEST_P(PayloadFreeEncoder, ASealExceptionReachesTheCallerUncancelled) {
    StrictMock<MockMessageBuffer> b;
    InSequence order;
    ExpectOpening(b, 8);
    EXPECT_CALL(b, EndWriteMsg()).WillOnce(Throw(InjectedFault{}));
    EXPECT_THROW(GetParam().write(b), InjectedFault);
}

TEST_P(PayloadFreeEncoder, WritesAnEmptyMessageOfItsTypeIntoTheRealBuffer) {
    NQMessageBuffer w;
    ASSERT_EQ(GetParam().write(w), 1);
    NQMessageBuffer r;
    Feed(r, w.TakeOutput());
    ASSERT_TRUE(r.NextMsg());
    EXPECT_EQ(r.MsgType(), GetParam().type);
    EXPECT_EQ(r.MsgForm(), GetParam().discovery ? NQMessageBuffer::Form::Discovery
                                                : NQMessageBuffer::Form::Session);
    EXPECT_EQ(r.CurrentMsg(), 0);
    EXPECT_FALSE(r.NextMsg());
}

INSTANTIATE_TEST_SUITE_P(AllEleven, PayloadFreeEncoder, ::testing::ValuesIn(kPayloadFree),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PayloadFreeEncoders, AFullBufferRefusesAndKeepsWhatItHolds) {
    NQMessageBuffer b(NQMessageBuffer::kHeaderSize);
    EXPECT_EQ(KTUMessage2::WritePing2(b), 1);
    const std::vector<uint8_t> held = Output(b);
    EXPECT_EQ(KTUMessage2::WriteKeepAlive2(b), 0);
    EXPECT_EQ(Output(b), held);
}

}  // namespace
