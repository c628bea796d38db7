// Every message through the real buffer: the exact bytes of the golden file,
// round trips, a full buffer, and damaged payloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "message_fixtures.h"
#include "tests/support/rich_values.h"

namespace {

using namespace ktutils::detail;
using Bytes = std::vector<uint8_t>;

// Sections "[WriteName]" of hex pairs; '#' starts a comment.
std::map<std::string, Bytes> LoadGolden() {
    std::ifstream file(KTUTILS_TEST_DATA_DIR "/golden/messages.hex");
    std::map<std::string, Bytes> golden;
    std::string line, section;
    while (std::getline(file, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        for (std::string word; words >> word;) {
            if (word.front() == '[') {
                section = word.substr(1, word.size() - 2);
            } else {
                golden[section].push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
            }
        }
    }
    return golden;
}

Bytes Encode(const PayloadCodec& codec, MessageValues values) {
    NQMessageBuffer out;
    EXPECT_EQ(codec.write(out, values), 1);
    return out.TakeOutput();
}

Bytes PayloadOf(const Bytes& frame) { return Bytes(frame.begin() + NQMessageBuffer::kHeaderSize, frame.end()); }

// Makes `frame` the current message of `in`.
void Receive(NQMessageBuffer& in, const Bytes& frame) {
    in.Receive(frame.data(), frame.size());
    ASSERT_TRUE(in.NextMsg());
}

// A message of `type` whose payload is `payload`, whatever it holds.
void Deliver(NQMessageBuffer& in, uint16_t type, const Bytes& payload) {
    NQMessageBuffer out;
    out.BeginWriteMsg(0, type);
    if (!payload.empty()) out.WriteData(payload.data(), static_cast<uint32_t>(payload.size()));
    out.EndWriteMsg();
    Receive(in, out.TakeOutput());
}

TEST(GoldenBytes, EveryMessageWritesItsPinnedBytesAndDecodesToItsArguments) {
    const auto golden = LoadGolden();
    ASSERT_EQ(golden.size(), 23u);
    for (const fixture::Message& m : fixture::Messages()) {
        SCOPED_TRACE(m.encoder);
        const Bytes& pinned = golden.at(m.encoder);
        NQMessageBuffer out;
        ASSERT_EQ(m.write(out), 1);
        EXPECT_EQ(out.TakeOutput(), pinned);
        NQMessageBuffer in;
        Receive(in, pinned);
        if (const PayloadCodec* codec = PayloadCodecOf(m.type)) {
            MessageValues got;
            EXPECT_EQ(codec->read(in, got), 1);
            EXPECT_TRUE(got == fixture::Values(m.type));
        }
        EXPECT_EQ(in.CurrentMsg(), 0);
    }
}

TEST(RoundTrip, EmptyAndFullestValuesComeBackByteForByte) {
    // Empty: texts that never held one, empty lists, zero blocks and numbers.
    for (const MessageValues& sent : {MessageValues(), RichValues()}) {
        for (const PayloadCodec& codec : PayloadCodecs()) {
            SCOPED_TRACE(codec.name);
            const Bytes frame = Encode(codec, sent);
            NQMessageBuffer in;
            Receive(in, frame);
            MessageValues got;
            EXPECT_EQ(codec.read(in, got), 1);
            EXPECT_EQ(Encode(codec, got), frame);
        }
    }
}

TEST(RoundTrip, ReceivedElementsFollowThoseAlreadyInTheListInWireOrder) {
    NQMessageBuffer in;
    Receive(in, Encode(*PayloadCodecOf(124), fixture::Values(124)));
    XList<KTUGuidVersion> list;
    std::vector<KTUGuidVersion> want;
    for (uint32_t i = 0; i < 3; ++i) list.Append({{i, i}, i});
    want.assign(list.begin(), list.end());
    for (const KTUGuidVersion& e : fixture::Values(124).guidVersions) want.push_back(e);
    EXPECT_EQ(KTUMessage2::ReadBadModule2(in, list), 1);
    EXPECT_EQ(std::vector<KTUGuidVersion>(list.begin(), list.end()), want);
    EXPECT_EQ(list.GetCount(), 5u);
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

// Bytes of the fields before the list, and of one list element (0: no list),
// in each fixture payload; its texts "player" and "s3cret" take 7 bytes each.
const std::map<uint16_t, std::pair<std::size_t, std::size_t>> kShapes = {
    {14, {4, 9}},   {15, {6, 9}},   {20, {4, 0}}, {21, {22, 12}},  {22, {22, 12}},  {26, {2, 8}},
    {27, {47, 12}}, {28, {47, 12}}, {29, {8, 12}}, {122, {1, 0}}, {123, {4, 0}}, {124, {0, 12}}};

std::size_t Elements(const MessageValues& v) {
    return v.guidVersions.GetCount() + v.moduleInfos.GetCount() + v.guids.GetCount();
}

TEST(MalformedInput, DecodersAnswerOneOnlyForWholeFieldsAndNeverFault) {
    std::vector<Bytes> payloads;
    for (const PayloadCodec& codec : PayloadCodecs()) payloads.push_back(PayloadOf(Encode(codec, fixture::Values(codec.type))));
    for (std::size_t c = 0; c < kPayloadCodecCount; ++c) {
        const PayloadCodec& codec = PayloadCodecs()[c];
        SCOPED_TRACE(codec.name);
        const auto [fixed, element] = kShapes.at(codec.type);
        const Bytes& payload = payloads[c];
        // Cut at every point, then up to three trailing bytes: a list reads
        // them as a partial element, other payloads leave them unread.
        for (std::size_t length = 0; length <= payload.size() + 3; ++length) {
            Bytes cut(payload.begin(), payload.begin() + std::min(length, payload.size()));
            cut.resize(length, 0xEE);
            NQMessageBuffer in;
            Deliver(in, codec.type, cut);
            MessageValues got;
            const bool whole = length >= fixed && (element == 0 || (length - fixed) % element == 0);
            EXPECT_EQ(codec.read(in, got), whole ? 1 : 0) << "length " << length;
            if (element != 0) {
                EXPECT_EQ(Elements(got), length < fixed ? 0 : (length - fixed) / element);
            }
        }
        // Each byte flipped, and the payloads of the other types (decoders
        // trust the caller's choice of type): 0 or 1, and no stray read.
        std::vector<Bytes> hostile(payloads);
        for (std::size_t at = 0; at < payload.size(); ++at) {
            hostile.push_back(payload);
            hostile.back()[at] ^= 0xFF;
        }
        for (const Bytes& input : hostile) {
            NQMessageBuffer in;
            Deliver(in, codec.type, input);
            MessageValues got;
            const int result = codec.read(in, got);
            EXPECT_TRUE(result == 0 || result == 1);
        }
    }
}

}  // namespace
