// The exact calls that encoders and decoders make on the message buffer, seen
// through GoogleMock, and what they do when the buffer refuses or throws.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "message_fixtures.h"
#include "tests/support/rich_values.h"

namespace {

using namespace ::testing;
using namespace ktutils::detail;

class MockMessageBuffer : public NQMessageBuffer {
public:
    MOCK_METHOD(uint32_t, BeginWriteMsg, (uint8_t channel, uint16_t type), (override));
    MOCK_METHOD(uint32_t, BeginWriteMsg, (uint16_t type), (override));
    MOCK_METHOD(uint32_t, EndWriteMsg, (), (override));
    MOCK_METHOD(void, CancelMsg, (), (override));
    MOCK_METHOD(int, CurrentMsg, (), (const, override));
    MOCK_METHOD(uint32_t, WriteU8, (uint8_t value), (override));
    MOCK_METHOD(uint32_t, WriteU16, (uint16_t value), (override));
    MOCK_METHOD(uint32_t, WriteU32, (uint32_t value), (override));
    MOCK_METHOD(uint32_t, WriteString, (const char* text), (override));
    MOCK_METHOD(uint32_t, WriteData, (const uint8_t* data, uint32_t length), (override));
    MOCK_METHOD(uint32_t, ReadU8, (uint8_t & value), (const, override));
    MOCK_METHOD(uint32_t, ReadU16, (uint16_t & value), (const, override));
    MOCK_METHOD(uint32_t, ReadU32, (uint32_t & value), (const, override));
    MOCK_METHOD(uint32_t, ReadString, (const char*& text), (const, override));
    MOCK_METHOD(uint32_t, ReadData, (const uint8_t*& data, uint32_t length), (const, override));
};

// Not NQBufferError: the codec must survive an exception of any type.
struct InjectedFault {};

std::string Hex(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

// Logs every call in order. The opening answers `opened`, every write 0
// (which must not stop an encoder), and the call numbered `failAt` throws.
class Recorder : public NiceMock<MockMessageBuffer> {
public:
    std::string log;
    int calls = 0;
    int failAt = -1;
    uint32_t opened = 8;

    Recorder() {
        ON_CALL(*this, BeginWriteMsg(_, _)).WillByDefault([this](uint8_t channel, uint16_t type) {
            return Note("Begin(" + std::to_string(channel) + "," + std::to_string(type) + ")", opened);
        });
        ON_CALL(*this, BeginWriteMsg(A<uint16_t>())).WillByDefault([this](uint16_t type) {
            return Note("Begin(" + std::to_string(type) + ")", opened);
        });
        ON_CALL(*this, EndWriteMsg()).WillByDefault([this] { return Note("End", 0); });
        ON_CALL(*this, CancelMsg()).WillByDefault([this] { log += "Cancel"; });
        ON_CALL(*this, WriteU8(_)).WillByDefault([this](uint8_t v) { return Note("U8:" + Hex(v), 0); });
        ON_CALL(*this, WriteU16(_)).WillByDefault([this](uint16_t v) { return Note("U16:" + Hex(v), 0); });
        ON_CALL(*this, WriteU32(_)).WillByDefault([this](uint32_t v) { return Note("U32:" + Hex(v), 0); });
        ON_CALL(*this, WriteString(_)).WillByDefault([this](const char* text) {
            return Note(std::string("Str:") + text, 0);
        });
        ON_CALL(*this, WriteData(_, _)).WillByDefault([this](const uint8_t* data, uint32_t length) {
            std::string bytes;
            for (uint32_t i = 0; i < length; ++i) bytes += Hex(data[i] >> 4) + Hex(data[i] & 15);
            return Note("Data:" + bytes, 0);
        });
    }

private:
    uint32_t Note(const std::string& call, uint32_t result) {
        log += call + " ";
        if (calls++ == failAt) throw InjectedFault{};
        return result;
    }
};

// The first `count` calls of a log.
std::string FirstCalls(const std::string& log, int count) {
    std::size_t end = 0;
    while (count-- > 0) end = log.find(' ', end) + 1;
    return log.substr(0, end);
}

const std::string kVersion = "U8:1 U8:2 U8:3 U8:4 ";
const std::string kModules = "U32:11111111 U32:22222222 U32:10002 U32:AAAAAAAA U32:BBBBBBBB U32:7 ";
const std::string kInfos = "U32:1 U32:2 U8:0 U32:3 U32:4 U8:FF ";
const std::string kBlocks[] = {"Data:000102030405060708090A0B0C0D0E0F ", "Data:F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF "};

// The calls of each payload encoder for the fixed arguments, in wire order.
const std::pair<uint16_t, std::string> kPayloadCalls[] = {
    {14, "Begin(0,14) U32:1020304 " + kInfos + "End "},
    {15, "Begin(0,15) U32:1020304 U16:BEEF " + kInfos + "End "},
    {20, "Begin(0,20) U32:12345678 End "},
    {21, "Begin(0,21) U32:12345678 Str:player Str:s3cret " + kVersion + kModules + "End "},
    {22, "Begin(0,22) U32:12345678 Str:player Str:s3cret " + kVersion + kModules + "End "},
    {26, "Begin(26) U16:6987 U32:DEADBEEF U32:CAFEF00D End "},
    {27, "Begin(0,27) U32:12345678 " + kBlocks[0] + "Str:player " + kBlocks[1] + kVersion + kModules + "End "},
    {28, "Begin(0,28) U32:12345678 " + kBlocks[0] + "Str:player " + kBlocks[1] + kVersion + kModules + "End "},
    {29, "Begin(0,29) U32:12345678 " + kVersion + kModules + "End "},
    {122, "Begin(0,122) U8:9 End "},
    {123, "Begin(0,123) " + kVersion + "End "},
    {124, "Begin(0,124) " + kModules + "End "},
};

TEST(EncoderCalls, WriteInWireOrderStopAtARefusalAndCancelOnceOnAnyException) {
    for (const auto& [type, calls] : kPayloadCalls) {
        const PayloadCodec& codec = *PayloadCodecOf(type);
        SCOPED_TRACE(codec.name);
        MessageValues values = fixture::Values(type);
        Recorder all;
        EXPECT_EQ(codec.write(all, values), 1);
        EXPECT_EQ(all.log, calls);
        Recorder refused;
        refused.opened = 0;
        EXPECT_EQ(codec.write(refused, values), 0);
        EXPECT_EQ(refused.log, FirstCalls(calls, 1));
        for (int failAt = 0; failAt < all.calls; ++failAt) {
            Recorder faulty;
            faulty.failAt = failAt;
            EXPECT_EQ(codec.write(faulty, values), 0);
            EXPECT_EQ(faulty.log, FirstCalls(calls, failAt + 1) + "Cancel");
        }
    }
}

class PayloadFreeEncoder : public TestWithParam<fixture::Message> {};

TEST_P(PayloadFreeEncoder, OpensItsTypeClosesAndLetsExceptionsReachTheCaller) {
    const fixture::Message& m = GetParam();
    const std::string opening = m.type == 25 ? "Begin(25) " : "Begin(0," + std::to_string(m.type) + ") ";
    Recorder all;
    EXPECT_EQ(m.write(all), 1);
    EXPECT_EQ(all.log, opening + "End ");
    Recorder refused;
    refused.opened = 0;
    EXPECT_EQ(m.write(refused), 0);
    EXPECT_EQ(refused.log, opening);
    for (int failAt : {0, 1}) {
        Recorder faulty;
        faulty.failAt = failAt;
        EXPECT_THROW(m.write(faulty), InjectedFault);
        EXPECT_EQ(faulty.log.find("Cancel"), std::string::npos);
    }
}

std::vector<fixture::Message> PayloadFree() {
    std::vector<fixture::Message> messages;
    for (const fixture::Message& m : fixture::Messages()) {
        if (PayloadCodecOf(m.type) == nullptr) messages.push_back(m);
    }
    return messages;
}

INSTANTIATE_TEST_SUITE_P(AllEleven, PayloadFreeEncoder, ValuesIn(PayloadFree()),
                         [](const auto& info) { return std::string(info.param.encoder); });

TEST(DecoderCalls, ReadsThatHandOutNothingLeaveEveryTargetAsItWas) {
    for (const PayloadCodec& codec : PayloadCodecs()) {
        NiceMock<MockMessageBuffer> silent;  // null texts and blocks, no payload left
        MessageValues values = RichValues();
        EXPECT_EQ(codec.read(silent, values), 1) << codec.name;
        EXPECT_TRUE(values == RichValues()) << codec.name;
    }
}

TEST(DecoderCalls, AThrowingReadReturnsZeroAndKeepsWhatWasStoredBefore) {
    StrictMock<MockMessageBuffer> b;
    const char* empty = "";
    InSequence order;
    EXPECT_CALL(b, ReadU32(_)).WillOnce(DoAll(SetArgReferee<0>(42u), Return(4)));
    EXPECT_CALL(b, ReadString(_)).WillOnce(DoAll(SetArgReferee<0>(empty), Return(1)));
    EXPECT_CALL(b, ReadString(_)).WillOnce(Throw(InjectedFault{}));
    MessageValues values = RichValues();
    EXPECT_EQ(PayloadCodecOf(21)->read(b, values), 0);
    EXPECT_EQ(values.challenge, 42u);
    EXPECT_STREQ(values.string1.CStr(), "");  // an empty text handed out does replace
    EXPECT_TRUE(values.string2 == RichValues().string2);
}

}  // namespace
