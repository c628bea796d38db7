// Every message through the real buffer (golden bytes, full buffer, damage) and GoogleMock (exact calls).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <tuple>

#include "tests/support/fixtures/message_fixtures.h"
#include "tests/support/payload_codecs.h"

namespace {

using namespace ::testing;
using namespace ktutils::detail;
using Bytes = std::vector<uint8_t>;

Bytes PayloadOf(const Bytes& frame) { return Bytes(frame.begin() + NQMessageBuffer::kHeaderSize, frame.end()); }

TEST(GoldenBytes, EveryMessageWritesItsPinnedBytesAndDecodesToItsArguments) {
    std::map<std::string, Bytes> golden;  // sections "[WriteName]" of hex pairs; '#' to the line's end a comment
    std::map<std::string, std::vector<std::string>> described;  // a section's "#>" lines
    std::ifstream file(KTUTILS_TEST_DATA_DIR "/golden/messages.hex");
    std::string section;
    for (std::string word; file >> word;) {
        if (word == "#>") std::getline(file, word), described[section].push_back(word.substr(1));
        else if (word[0] == '#') std::getline(file, word);
        else if (word[0] == '[') section = word.substr(1, word.size() - 2);
        else golden[section].push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    ASSERT_EQ(golden.size(), 23u);
    for (const fixture::Message& m : fixture::Messages()) {
        SCOPED_TRACE(m.encoder);
        NQMessageBuffer out, in, again;
        ASSERT_EQ(m.write(out), 1);
        const Bytes& pinned = golden[m.encoder];
        EXPECT_EQ(out.TakeOutput(), pinned);
        in.Receive(pinned.data(), pinned.size());
        ASSERT_TRUE(in.NextMsg());
        again.Receive(pinned.data(), pinned.size());  // described as the section's annotations say
        const ktutils::MessageDescription d = again.NextMsg() ? ktutils::DescribeMessage(again) : ktutils::MessageDescription{};
        EXPECT_EQ(std::vector<std::string>({ToText(d), ToJson(d)}), described[m.encoder]);
        // Decoded values that write the pinned payload again are the fixed arguments.
        if (const PayloadCodec* codec = PayloadCodecOf(m.type)) {
            MessageValues got;
            EXPECT_EQ(codec->read(in, got), 1);
            EXPECT_TRUE(ReencodesToConsumedBytes(*codec, got, in, PayloadOf(pinned)));
        }
    }
}

TEST(FullBuffer, EveryEncoderRefusesAndTheBufferKeepsWhatItHolds) {
    NQMessageBuffer out(NQMessageBuffer::kHeaderSize);
    ASSERT_EQ(KTUMessage2::WritePing2(out), 1);
    const Bytes held(out.OutputData(), out.OutputData() + out.OutputSize());
    for (const fixture::Message& m : fixture::Messages()) {
        EXPECT_EQ(m.write(out), 0) << m.encoder;
        EXPECT_EQ(Bytes(out.OutputData(), out.OutputData() + out.OutputSize()), held) << m.encoder;
        EXPECT_FALSE(out.IsWriting()) << m.encoder;
    }
}

// Where each field before the list ends, and the bytes of one list element (0: no list), in each
// fixture payload; its texts "player" and "s3cret" take 7 bytes each, a version 4, a block 16.
const std::map<uint16_t, std::pair<std::vector<std::size_t>, std::size_t>> kShapes = {
    {14, {{4}, 9}}, {15, {{4, 6}, 9}}, {20, {{4}, 0}}, {21, {{4, 11, 18, 22}, 12}}, {22, {{4, 11, 18, 22}, 12}},
    {26, {{2}, 8}}, {27, {{4, 20, 27, 43, 47}, 12}}, {28, {{4, 20, 27, 43, 47}, 12}}, {29, {{4, 8}, 12}},
    {122, {{1}, 0}}, {123, {{4}, 0}}, {124, {{}, 12}}};

TEST(MalformedInput, DecodersAnswerOneOnlyForWholeFieldsAndNeverFault) {
    std::vector<Bytes> payloads;
    for (const PayloadCodec& codec : PayloadCodecs()) payloads.push_back(PayloadOf(Encode(codec, fixture::Values(codec.type))));
    for (std::size_t c = 0; c < kPayloadCodecCount; ++c) {
        const PayloadCodec& codec = PayloadCodecs()[c];
        const auto& [ends, element] = kShapes.at(codec.type);
        const std::size_t fixed = ends.empty() ? 0 : ends.back();
        // Cut at every point, then up to three trailing bytes: a list reads them as a partial element
        // and appends only the whole ones behind those already in it; other payloads leave them unread.
        for (std::size_t length = 0; length <= payloads[c].size() + 3; ++length) {
            Bytes cut(payloads[c].begin(), payloads[c].begin() + std::min(length, payloads[c].size()));
            cut.resize(length, 0xEE);
            NQMessageBuffer in;
            ASSERT_TRUE(Deliver(in, codec.type, cut));
            MessageValues got = RichValues();
            const bool whole = length >= fixed && (element == 0 || (length - fixed) % element == 0);
            EXPECT_EQ(codec.read(in, got), whole ? 1 : 0) << codec.name << " cut to " << length;
            const std::size_t elements = got.guidVersions.GetCount() + got.moduleInfos.GetCount() + got.guids.GetCount();
            EXPECT_EQ(elements, 3 * kRichListLength + (element == 0 || length < fixed ? 0 : (length - fixed) / element));
            NQMessageBuffer again;  // described: damaged as the decoder refuses, trailing only without a list,
            ASSERT_TRUE(Deliver(again, codec.type, cut));  // the fields read those that end within the cut
            const ktutils::MessageDescription d = ktutils::DescribeMessage(again);
            const auto read = static_cast<std::size_t>(std::count_if(ends.begin(), ends.end(), [&](std::size_t end) { return end <= length; }));
            EXPECT_EQ(std::make_tuple(d.damaged, d.trailing, d.fieldsRead),
                      std::make_tuple(!whole, whole && element == 0 && length > fixed, read + (element != 0 && length >= fixed)))
                << codec.name << " cut to " << length;
        }
        // The payloads of the other types (a decoder trusts the caller's choice): 0 or 1, no stray read.
        for (const Bytes& other : payloads) {
            NQMessageBuffer in;
            MessageValues got;
            const int result = Deliver(in, codec.type, other) ? codec.read(in, got) : -1;
            EXPECT_TRUE(result == 0 || result == 1) << codec.name;
        }
    }
}

TEST(MalformedInput, AFailingReadKeepsWhatWasStoredBefore) {
    NQMessageBuffer in;  // the challenge word, an empty text, a text without its end
    ASSERT_TRUE(Deliver(in, 21, {0x2A, 0, 0, 0, 0, 'a', 'b'}));
    MessageValues values = RichValues();
    EXPECT_EQ(PayloadCodecOf(21)->read(in, values), 0);
    EXPECT_EQ(values.challenge, 42u);
    EXPECT_STREQ(values.string1.CStr(), "");  // an empty text handed out does replace
    EXPECT_TRUE(values.string2 == RichValues().string2);
}

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

struct InjectedFault {};  // not NQBufferError: the codec must survive an exception of any type

std::string Text(const char* text) { return text; }
std::string Text(uint32_t value, const char* format = "%X") {
    char text[9];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    return text;
}

// Logs every call with its arguments (numbers in hex), in order. The opening answers `opened`, every
// write 0 (which must not stop an encoder), and the call numbered `failAt` throws.
struct Recorder : NiceMock<MockMessageBuffer> {
    std::string log;
    int calls = 0;
    explicit Recorder(uint32_t opened = 8, int failAt = -1) {
        const auto note = [this, failAt](const std::string& name, uint32_t result) {
            return [this, failAt, name, result](auto... args) {
                log += name + ((":" + Text(args)) + ... + "") + " ";
                if (calls++ == failAt) throw InjectedFault{};
                return result;
            };
        };
        ON_CALL(*this, BeginWriteMsg(_, _)).WillByDefault(note("Begin", opened));
        ON_CALL(*this, BeginWriteMsg(A<uint16_t>())).WillByDefault(note("Begin", opened));
        ON_CALL(*this, EndWriteMsg()).WillByDefault(note("End", 0));
        ON_CALL(*this, CancelMsg()).WillByDefault([this] { log += "Cancel"; });
        ON_CALL(*this, WriteU8(_)).WillByDefault(note("U8", 0));
        ON_CALL(*this, WriteU16(_)).WillByDefault(note("U16", 0));
        ON_CALL(*this, WriteU32(_)).WillByDefault(note("U32", 0));
        ON_CALL(*this, WriteString(_)).WillByDefault(note("Str", 0));
        ON_CALL(*this, WriteData(_, _)).WillByDefault([note](const uint8_t* data, uint32_t length) {
            std::string bytes;
            for (uint32_t i = 0; i < length; ++i) bytes += Text(data[i], "%02X");
            return note("Data", 0)(bytes.c_str());
        });
    }
};

std::string FirstCalls(const std::string& log, int count) {
    std::size_t end = 0;
    while (count-- > 0) end = log.find(' ', end) + 1;
    return log.substr(0, end);
}

const std::string kVersion = "U8:1 U8:2 U8:3 U8:4 ";
const std::string kModules = "U32:11111111 U32:22222222 U32:10002 U32:AAAAAAAA U32:BBBBBBBB U32:7 ";
const std::string kInfos = "U32:1 U32:2 U8:0 U32:3 U32:4 U8:FF ";
const std::string kSecured = "U32:12345678 Data:000102030405060708090A0B0C0D0E0F Str:player "
                             "Data:F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF " + kVersion + kModules + "End ";
const std::string kText = "U32:12345678 Str:player Str:s3cret " + kVersion + kModules + "End ";

// The calls of each payload encoder for the fixed arguments, in wire order.
const std::map<uint16_t, std::string> kPayloadCalls = {
    {14, "Begin:0:E U32:1020304 " + kInfos + "End "}, {15, "Begin:0:F U32:1020304 U16:BEEF " + kInfos + "End "},
    {20, "Begin:0:14 U32:12345678 End "},             {21, "Begin:0:15 " + kText},
    {22, "Begin:0:16 " + kText},                      {26, "Begin:1A U16:6987 U32:DEADBEEF U32:CAFEF00D End "},
    {27, "Begin:0:1B " + kSecured},                   {28, "Begin:0:1C " + kSecured},
    {29, "Begin:0:1D U32:12345678 " + kVersion + kModules + "End "},
    {122, "Begin:0:7A U8:9 End "}, {123, "Begin:0:7B " + kVersion + "End "}, {124, "Begin:0:7C " + kModules + "End "},
};

class EncoderCalls : public TestWithParam<fixture::Message> {};

TEST_P(EncoderCalls, FollowTheWireOrderStopAtARefusalAndCancelOrPassOnExceptions) {
    const fixture::Message& m = GetParam();
    const bool payload = PayloadCodecOf(m.type) != nullptr;
    // Without payload: the opening call, with 0 before the type except for LookForServer.
    const std::string calls = payload ? kPayloadCalls.at(m.type) : (m.type == 25 ? "Begin:19 End " : "Begin:0:" + Text(m.type) + " End ");
    Recorder all;
    EXPECT_EQ(m.write(all), 1);
    EXPECT_EQ(all.log, calls);
    Recorder refused(0);
    EXPECT_EQ(m.write(refused), 0);
    EXPECT_EQ(refused.log, FirstCalls(calls, 1));
    for (int failAt = 0; failAt < all.calls; ++failAt) {
        Recorder faulty(8, failAt);
        if (payload) {
            EXPECT_EQ(m.write(faulty), 0);
            EXPECT_EQ(faulty.log, FirstCalls(calls, failAt + 1) + "Cancel");
        } else {  // no handler: the exception reaches the caller, uncancelled
            EXPECT_THROW(m.write(faulty), InjectedFault);
            EXPECT_EQ(faulty.log, FirstCalls(calls, failAt + 1));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllTwentyThree, EncoderCalls, ValuesIn(fixture::Messages()),
                         [](const auto& info) { return info.param.encoder; });

TEST(DecoderCalls, ReadsThatHandOutNothingLeaveEveryTargetAsItWas) {
    for (const PayloadCodec& codec : PayloadCodecs()) {
        NiceMock<MockMessageBuffer> silent;  // null texts and blocks, no payload left
        MessageValues values = RichValues();
        EXPECT_EQ(codec.read(silent, values), 1) << codec.name;
        EXPECT_TRUE(values == RichValues()) << codec.name;
    }
}

}  // namespace
