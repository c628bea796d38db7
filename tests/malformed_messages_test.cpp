// Hostile and damaged payloads: every decoder answers 0 or 1, never reads
// outside its message, and keeps exactly the complete list elements. The
// sanitizer build turns any stray read into a failure here.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "buffer_test_util.h"
#include "message_fixtures.h"

namespace {

// Bytes of the fixed fields before the list, and of one list element (0: no
// list), per payload type, as the wire format lays them out for the fixture.
struct Shape {
    std::size_t fixed;
    std::size_t element;
};
const std::map<uint16_t, Shape> kShapes = {
    {14, {4, 9}},          {15, {6, 9}},
    {20, {4, 0}},          {21, {4 + 7 + 7 + 4, 12}},
    {22, {4 + 7 + 7 + 4, 12}}, {26, {2, 8}},
    {27, {4 + 16 + 7 + 16 + 4, 12}}, {28, {4 + 16 + 7 + 16 + 4, 12}},
    {29, {8, 12}},         {122, {1, 0}},
    {123, {4, 0}},         {124, {0, 12}},
};

// A complete frame of `type` whose payload is `payload`, made current.
void Deliver(NQMessageBuffer& in, uint16_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame = Header(static_cast<uint32_t>(payload.size()), type, 0,
                                        type == 26 ? 1 : 0);
    frame.insert(frame.end(), payload.begin(), payload.end());
    Feed(in, frame);
    ASSERT_TRUE(in.NextMsg());
}

std::vector<uint8_t> FixturePayload(const fixture::Message& m) {
    const std::vector<uint8_t> frame = fixture::Encode(m);
    return std::vector<uint8_t>(frame.begin() + NQMessageBuffer::kHeaderSize, frame.end());
}

TEST(MalformedPayload, EveryPrefixDecodesOnlyWhenItEndsOnAFieldBoundary) {
    for (const fixture::Message& m : fixture::Messages()) {
        if (m.decode == nullptr) continue;
        SCOPED_TRACE(m.encoder);
        const Shape shape = kShapes.at(m.type);
        const std::vector<uint8_t> payload = FixturePayload(m);
        for (std::size_t length = 0; length <= payload.size(); ++length) {
            SCOPED_TRACE("payload cut to " + std::to_string(length));
            NQMessageBuffer in;
            Deliver(in, m.type, std::vector<uint8_t>(payload.begin(), payload.begin() + length));
            const bool complete =
                length >= shape.fixed &&
                (shape.element == 0 || (length - shape.fixed) % shape.element == 0);
            EXPECT_EQ(m.decode(in), complete ? 1 : 0);
        }
    }
}

TEST(MalformedPayload, TrailingBytesAreIgnoredUnlessAListWouldTakeThem) {
    for (const fixture::Message& m : fixture::Messages()) {
        if (m.decode == nullptr) continue;
        SCOPED_TRACE(m.encoder);
        const Shape shape = kShapes.at(m.type);
        std::vector<uint8_t> payload = FixturePayload(m);
        for (int extra = 1; extra <= 3; ++extra) {
            payload.push_back(0xEE);
            NQMessageBuffer in;
            Deliver(in, m.type, payload);
            // A list reads on to the end: a partial element fails the decode.
            EXPECT_EQ(m.decode(in), shape.element == 0 ? 1 : 0) << extra;
        }
    }
}

TEST(MalformedPayload, AnyFlippedByteDecodesToZeroOrOneWithoutAFault) {
    for (const fixture::Message& m : fixture::Messages()) {
        if (m.decode == nullptr) continue;
        SCOPED_TRACE(m.encoder);
        const std::vector<uint8_t> payload = FixturePayload(m);
        for (std::size_t at = 0; at < payload.size(); ++at) {
            for (uint8_t mask : {0x01, 0x80, 0xFF}) {
                std::vector<uint8_t> damaged = payload;
                damaged[at] ^= mask;
                NQMessageBuffer in;
                Deliver(in, m.type, damaged);
                const int result = m.decode(in);
                EXPECT_TRUE(result == 0 || result == 1) << at;
            }
        }
    }
}

TEST(MalformedPayload, ATextWithoutItsTerminatorFailsAndKeepsWhatCameBefore) {
    // Challenge word, then "abc" running into the end of the message.
    NQMessageBuffer in;
    Deliver(in, 21, {0x01, 0x00, 0x00, 0x00, 'a', 'b', 'c'});
    uint32_t challenge = 0;
    XString s1("old"), s2;
    KTUVersion version;
    XList<KTUGuidVersion> modules;
    EXPECT_EQ(KTUMessage2::ReadChallengeConnect2(in, challenge, s1, s2, version, modules), 0);
    EXPECT_EQ(challenge, 1u);
    EXPECT_STREQ(s1.CStr(), "old");
}

TEST(MalformedPayload, AListCutInsideAnElementKeepsTheCompleteOnes) {
    const std::vector<uint8_t> payload = FixturePayload(fixture::ByEncoder("WriteConnected2"));
    // U32 value, then two 9-byte elements: cut inside the second.
    for (std::size_t length = 4 + 9 + 1; length < payload.size(); ++length) {
        NQMessageBuffer in;
        Deliver(in, 14, std::vector<uint8_t>(payload.begin(), payload.begin() + length));
        XList<KTUModuleInfo> modules;
        uint32_t value = 0;
        EXPECT_EQ(KTUMessage2::ReadConnected2(in, modules, value), 0);
        EXPECT_EQ(value, fixture::kConnectedValue);
        ASSERT_EQ(modules.GetCount(), 1u) << length;
        EXPECT_EQ(*modules.begin(), *fixture::ModuleInfos().begin());
    }
}

}  // namespace
