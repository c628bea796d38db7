#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/buffer_test_util.h"

namespace {

using Kind = NQBufferError::Kind;
constexpr uint32_t kMax = NQMessageBuffer::kMaxPayloadSize;

// A read past the payload's end is refused and consumes nothing; the next header's zeros are out of reach.
TEST(MessageBuffer, WritesExactLittleEndianFramesAndReadsOnlyInsideThem) {
    const uint8_t block[3] = {0xFF, 7, 'x'};
    NQMessageBuffer w, r;  // braces below run the calls in order
    EXPECT_EQ((std::vector<uint32_t>{w.BeginWriteMsg(7, 0x1234), w.WriteU8(0xAB), w.WriteU16(0xBEEF), w.WriteU32(0x01020304),
        w.WriteString("h\xC3\xA9"), w.WriteString(nullptr), w.WriteData(block, 1), w.WriteData(block + 1, 2),
        w.WriteData(nullptr, 0), w.EndWriteMsg(), w.BeginWriteMsg(uint16_t{25}), w.EndWriteMsg()}),
        (std::vector<uint32_t>{8, 1, 2, 4, 4, 1, 1, 2, 0, 23, 8, 8}));
    const std::vector<uint8_t> frames = {15, 0, 0, 0, 0x34, 0x12, 7, 0,  // length, type, channel, form
                                         0xAB, 0xEF, 0xBE, 4, 3, 2, 1, 'h', 0xC3, 0xA9, 0, 0, 0xFF, 7, 'x',
                                         0, 0, 0, 0, 25, 0, 0, 1};  // discovery: no channel
    EXPECT_EQ(Output(w), frames);
    Feed(r, frames);
    ASSERT_TRUE(r.NextMsg());
    EXPECT_EQ(std::make_tuple(r.MsgType(), r.MsgChannel(), r.MsgForm()), std::make_tuple(0x1234, 7, NQMessageBuffer::Form::Session));
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    const char* texts[3] = {};
    const uint8_t* data = nullptr;
    EXPECT_EQ((std::vector<uint32_t>{r.ReadU8(u8), r.ReadU16(u16), r.ReadU32(u32), r.ReadString(texts[0]), r.ReadString(texts[1])}),
              (std::vector<uint32_t>{1, 2, 4, 4, 1}));
    EXPECT_EQ((std::vector<uint32_t>{u8, u16, u32}), (std::vector<uint32_t>{0xAB, 0xBEEF, 0x01020304}));
    EXPECT_EQ(std::string(texts[0]) + "|" + texts[1], "h\xC3\xA9|");
    EXPECT_EQ(KindOf([&] { r.ReadString(texts[2]); }), Kind::UnterminatedString);
    EXPECT_EQ(KindOf([&] { r.ReadU32(u32); }), Kind::ReadPastEnd);
    EXPECT_EQ(KindOf([&] { r.ReadData(data, 4); }), Kind::ReadPastEnd);
    ASSERT_TRUE(u32 == 0x01020304 && data == nullptr && texts[2] == nullptr && r.ReadData(data, 3) == 3);
    EXPECT_EQ(std::string(data, data + 3) + std::to_string(r.CurrentMsg()), "\xFF\x07x0");
    EXPECT_EQ(KindOf([&] { r.ReadU8(u8); }), Kind::ReadPastEnd);
    ASSERT_TRUE(r.NextMsg());
    EXPECT_EQ(std::make_tuple(r.MsgType(), r.MsgForm(), r.MsgOffset()), std::make_tuple(25, NQMessageBuffer::Form::Discovery, 23u));
    EXPECT_EQ(KindOf([&] { r.ReadString(texts[2]); }), Kind::UnterminatedString);
}

TEST(MessageBuffer, NextMessageTakesOnlyWholeWellFormedMessages) {
    // taken: 1 made current, 0 waiting for more, -1 refused with `kind`, now and on every later call.
    const struct { std::vector<uint8_t> bytes; int taken; Kind kind; } rows[] = {
        {{0, 0, 0, 0, 1, 0, 0}, 0, {}}, {Header(0, 1, 0, 0), 1, {}}, {Join(Header(5, 1, 0, 0), {1, 2, 3, 4}), 0, {}},
        {Join(Header(kMax, 1, 0, 0), std::vector<uint8_t>(kMax)), 1, {}}, {Header(0, 25, 0, 1), 1, {}},
        {Join(Header(kMax + 1, 1, 0, 0), std::vector<uint8_t>(kMax + 1)), -1, Kind::MessageTooLarge},
        {Header(0x8000'0000, 1, 0, 0), -1, Kind::MessageTooLarge}, {Header(0, 14, 0, 2), -1, Kind::MalformedHeader},
        {Header(0, 25, 4, 1), -1, Kind::MalformedHeader},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        NQMessageBuffer r;
        Feed(r, Join(Join(Header(1, 9, 0, 0), {0}), row.bytes));
        ASSERT_TRUE(r.NextMsg());
        for (int call = row.taken < 0 ? 0 : 2; call < 2; ++call) EXPECT_EQ(KindOf([&] { r.NextMsg(); }), row.kind);
        if (row.taken >= 0) { EXPECT_EQ(r.NextMsg(), row.taken == 1); }
        EXPECT_EQ(r.PendingInput(), row.taken == 1 ? 0 : row.bytes.size());
    }
}

// Room runs out at the capacity and the payload limit, also for a message open across a send;
// misuse is refused too, and nothing refused or cancelled leaves a trace.
TEST(MessageBuffer, AFullBufferOrMisuseIsRefusedAndKeepsWhatItHolds) {
    EXPECT_EQ(NQMessageBuffer(8).BeginWriteMsg(0, 1) + NQMessageBuffer(7).BeginWriteMsg(0, 1), 8u);
    const struct { std::size_t capacity; uint32_t payload; } rows[] = {{308, 300}, {kMax + 15, kMax}};  // 300: the length's second byte
    for (const auto& row : rows) {
        const std::vector<uint8_t> payload(row.payload, 0xEE);
        NQMessageBuffer b(row.capacity);
        b.BeginWriteMsg(0, 1), b.EndWriteMsg(), b.BeginWriteMsg(0, 9);
        EXPECT_EQ(KindOf([&] { b.WriteData(nullptr, 1); }), Kind::InvalidArgument);
        b.CancelMsg();
        b.BeginWriteMsg(0, 2);
        EXPECT_EQ(b.BeginWriteMsg(uint16_t{2}), 0u) << "two open at once";
        EXPECT_EQ(b.TakeOutput(), Header(0, 1, 0, 0));
        EXPECT_EQ(b.WriteData(payload.data(), row.payload), row.payload);
        EXPECT_EQ(KindOf([&] { b.WriteU8(1); }), Kind::MessageTooLarge);
        EXPECT_EQ(b.EndWriteMsg(), 8 + row.payload);
        EXPECT_EQ(b.BeginWriteMsg(0, 3), 0u);
        EXPECT_EQ((std::vector<Kind>{KindOf([&] { b.WriteU8(1); }), KindOf([&] { b.EndWriteMsg(); }), KindOf([&] { b.Receive(nullptr, 4); })}),
                  (std::vector<Kind>{Kind::NoOpenMessage, Kind::NoOpenMessage, Kind::InvalidArgument}));
        b.Receive(nullptr, 0);
        EXPECT_EQ(b.TakeOutput(), Join(Header(row.payload, 2, 0, 0), payload));
    }
}

}  // namespace
