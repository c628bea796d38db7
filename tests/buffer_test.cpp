#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "buffer_test_util.h"

namespace {

using Kind = NQBufferError::Kind;
using Form = NQMessageBuffer::Form;
constexpr uint32_t kMax = NQMessageBuffer::kMaxPayloadSize;

TEST(MessageBuffer, WritesExactLittleEndianFramesAndReadsThemBack) {
    const uint8_t block[3] = {0, 0xFF, 7};
    NQMessageBuffer w;
    ASSERT_EQ(w.BeginWriteMsg(7, 0x1234), NQMessageBuffer::kHeaderSize);
    // A braced list runs the writes in order.
    const std::vector<uint32_t> written = {w.WriteU8(0xAB), w.WriteU16(0xBEEF), w.WriteU32(0x01020304),
                                           w.WriteString("h\xC3\xA9"), w.WriteString(nullptr),
                                           w.WriteData(block, 3), w.WriteData(nullptr, 0)};
    EXPECT_EQ(written, (std::vector<uint32_t>{1, 2, 4, 4, 1, 3, 0}));
    EXPECT_EQ(w.EndWriteMsg(), 23u);
    ASSERT_EQ(w.BeginWriteMsg(uint16_t{25}), 8u);
    EXPECT_EQ(w.EndWriteMsg(), 8u);
    const std::vector<uint8_t> frames = {
        15, 0, 0, 0, 0x34, 0x12, 7, 0,                    // length, type, channel, session form
        0xAB, 0xEF, 0xBE, 4, 3, 2, 1, 'h', 0xC3, 0xA9, 0,  // values least significant byte first
        0, 0, 0xFF, 7,                                     // null text as "", raw block
        0, 0, 0, 0, 25, 0, 0, 1};                          // discovery form, no channel
    EXPECT_EQ(Output(w), frames);

    NQMessageBuffer r;
    Feed(r, frames);
    ASSERT_TRUE(r.NextMsg());
    EXPECT_EQ(std::make_tuple(r.MsgType(), r.MsgChannel(), r.MsgForm()), std::make_tuple(0x1234, 7, Form::Session));
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    const char* texts[2] = {};
    const uint8_t* data = nullptr;
    const std::vector<uint32_t> read = {r.ReadU8(u8), r.ReadU16(u16), r.ReadU32(u32), r.ReadString(texts[0]),
                                        r.ReadString(texts[1]), static_cast<uint32_t>(r.CurrentMsg()),
                                        r.ReadData(data, 3), static_cast<uint32_t>(r.CurrentMsg())};
    EXPECT_EQ(read, (std::vector<uint32_t>{1, 2, 4, 4, 1, 1, 3, 0}));
    EXPECT_EQ((std::vector<uint32_t>{u8, u16, u32}), (std::vector<uint32_t>{0xAB, 0xBEEF, 0x01020304}));
    EXPECT_EQ(std::string(texts[0]) + "|" + texts[1], "h\xC3\xA9|");
    EXPECT_EQ(std::vector<uint8_t>(data, data + 3), std::vector<uint8_t>(block, block + 3));
    ASSERT_TRUE(r.NextMsg());
    EXPECT_EQ(std::make_tuple(r.MsgType(), r.MsgForm(), r.MsgOffset()), std::make_tuple(25, Form::Discovery, 23u));
    EXPECT_EQ(r.CurrentMsg(), 0);
    EXPECT_FALSE(r.NextMsg());
    EXPECT_EQ(r.MsgType(), 0);
}

TEST(MessageBuffer, AReadPastTheEndIsRefusedAndConsumesNothing) {
    NQMessageBuffer r;
    // Zero bytes right behind the first payload, in the next header, that no read may reach.
    Feed(r, Join(Join(Header(3, 20, 0, 0), {0x11, 0x22, 0x33}), Join(Header(2, 21, 0, 0), {0, 0})));
    ASSERT_TRUE(r.NextMsg());
    uint32_t u32 = 7;
    const uint8_t* data = nullptr;
    const char* text = nullptr;
    EXPECT_EQ(KindOf([&] { r.ReadU32(u32); }), Kind::ReadPastEnd);
    EXPECT_EQ(KindOf([&] { r.ReadData(data, 4); }), Kind::ReadPastEnd);
    EXPECT_EQ(KindOf([&] { r.ReadString(text); }), Kind::UnterminatedString);
    EXPECT_EQ(u32, 7u);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(text, nullptr);
    uint16_t u16 = 0;
    uint8_t u8 = 0;
    EXPECT_EQ(r.ReadU16(u16), 2u);
    EXPECT_EQ(r.ReadU8(u8), 1u);
    EXPECT_EQ(u16 | u8 << 16, 0x332211);
    EXPECT_EQ(KindOf([&] { r.ReadU8(u8); }), Kind::ReadPastEnd);
    EXPECT_EQ(r.ReadData(data, 0), 0u);
    ASSERT_TRUE(r.NextMsg());
    EXPECT_EQ(r.ReadString(text) + r.ReadString(text), 2u);
    EXPECT_EQ(KindOf([&] { r.ReadString(text); }), Kind::UnterminatedString);
}

TEST(MessageBuffer, NextMessageTakesOnlyWholeWellFormedMessages) {
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        int taken;  // 1 made current, 0 waiting for more, -1 refused with `kind`
        Kind kind;
    } rows[] = {
        {"seven header bytes", {0, 0, 0, 0, 1, 0, 0}, 0, {}},
        {"an empty payload", Header(0, 1, 0, 0), 1, {}},
        {"one payload byte short", Join(Header(5, 1, 0, 0), {1, 2, 3, 4}), 0, {}},
        {"the largest payload", Join(Header(kMax, 1, 0, 0), std::vector<uint8_t>(kMax)), 1, {}},
        {"a discovery message", Header(0, 25, 0, 1), 1, {}},
        {"one byte over the limit", Join(Header(kMax + 1, 1, 0, 0), std::vector<uint8_t>(kMax + 1)), -1,
         Kind::MessageTooLarge},
        {"an unknown form", Header(0, 14, 0, 2), -1, Kind::MalformedHeader},
        {"a discovery message on a channel", Header(0, 25, 4, 1), -1, Kind::MalformedHeader},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        NQMessageBuffer r;
        Feed(r, Join(Header(1, 9, 0, 0), {0}));
        Feed(r, row.bytes);
        ASSERT_TRUE(r.NextMsg());
        if (row.taken >= 0) {
            EXPECT_EQ(r.NextMsg(), row.taken == 1);
            EXPECT_EQ(r.PendingInput(), row.taken == 1 ? 0 : row.bytes.size());
        } else {
            EXPECT_EQ(KindOf([&] { r.NextMsg(); }), row.kind);
            EXPECT_EQ(KindOf([&] { r.NextMsg(); }), row.kind);  // the stream stays refused
            EXPECT_FALSE(r.HasMsg());
        }
        EXPECT_EQ(r.MsgOffset(), 9u);
    }
}

TEST(MessageBuffer, AStreamInPiecesOfAnySizeYieldsEveryMessageOnce) {
    NQMessageBuffer w;
    std::vector<std::size_t> offsets;
    for (uint16_t i = 0; i < 300; ++i) {
        offsets.push_back(w.OutputSize());
        if (i % 3) {
            w.BeginWriteMsg(static_cast<uint8_t>(i % 7), i);
        } else {
            w.BeginWriteMsg(i);
        }
        w.WriteString(std::to_string(i).c_str());
        if (i % 2) w.WriteU32(i);  // left unread: the next message must skip it
        w.EndWriteMsg();
    }
    const std::vector<uint8_t> stream = w.TakeOutput();
    for (std::size_t piece : {1, 2, 3, 7, 4096}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        NQMessageBuffer r;
        uint16_t next = 0;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            r.Receive(stream.data() + at, std::min(piece, stream.size() - at));
            for (; r.NextMsg(); ++next) {
                ASSERT_EQ(r.MsgType(), next);
                EXPECT_EQ(r.MsgChannel(), next % 3 ? next % 7 : 0);
                EXPECT_EQ(r.MsgForm(), next % 3 ? Form::Session : Form::Discovery);
                EXPECT_EQ(r.MsgOffset(), offsets[next]);
                const char* text = nullptr;
                r.ReadString(text);
                EXPECT_EQ(text, std::to_string(next));
            }
        }
        EXPECT_EQ(next, 300);
        EXPECT_EQ(r.PendingInput(), 0u);
    }
}

TEST(MessageBuffer, OpeningNeedsRoomForAHeaderAndNoOpenMessage) {
    const struct {
        std::size_t capacity;
        int emptyMessages;  // that fit
    } rows[] = {{0, 0}, {7, 0}, {8, 1}, {15, 1}, {16, 2}, {17, 2}};
    for (const auto& row : rows) {
        NQMessageBuffer b(row.capacity);
        int fitted = 0;
        while (fitted < 5 && b.BeginWriteMsg(uint16_t{3}) != 0) {
            EXPECT_EQ(b.BeginWriteMsg(0, 1), 0u) << "two open at once";
            b.EndWriteMsg();
            ++fitted;
        }
        EXPECT_EQ(fitted, row.emptyMessages) << "capacity " << row.capacity;
        EXPECT_EQ(b.OutputSize(), 8u * fitted);
    }
}

TEST(MessageBuffer, AFullBufferRefusesAndKeepsWhatItHolds) {
    NQMessageBuffer b(2 * NQMessageBuffer::kHeaderSize + 4);
    b.BeginWriteMsg(0, 1);
    b.WriteU32(0xA1A2A3A4);
    b.EndWriteMsg();
    ASSERT_NE(b.BeginWriteMsg(0, 2), 0u);  // fills the capacity exactly
    EXPECT_EQ(KindOf([&] { b.WriteU8(1); }), Kind::MessageTooLarge);
    b.EndWriteMsg();
    EXPECT_EQ(b.BeginWriteMsg(0, 3), 0u);
    const std::vector<uint8_t> held = Join(Join(Header(4, 1, 0, 0), {0xA4, 0xA3, 0xA2, 0xA1}), Header(0, 2, 0, 0));
    EXPECT_EQ(Output(b), held);
    EXPECT_EQ(b.TakeOutput(), held);  // sending makes room again

    // Sending while a message is open keeps it open, its room with it.
    b.BeginWriteMsg(0, 4);
    b.EndWriteMsg();
    b.BeginWriteMsg(0, 5);
    b.WriteU8(1);
    EXPECT_EQ(b.TakeOutput(), Header(0, 4, 0, 0));
    const std::vector<uint8_t> rest(11, 0xEE);
    EXPECT_EQ(b.WriteData(rest.data(), 11), 11u);
    EXPECT_EQ(KindOf([&] { b.WriteU8(1); }), Kind::MessageTooLarge);
    EXPECT_EQ(b.EndWriteMsg(), 20u);
    EXPECT_EQ(b.TakeOutput(), Join(Join(Header(12, 5, 0, 0), {1}), rest));
}

TEST(MessageBuffer, ThePayloadLimitHoldsForAMessageOpenAcrossASend) {
    const std::vector<uint8_t> payload(kMax, 0x5A);
    NQMessageBuffer w(4 * kMax);
    w.BeginWriteMsg(0, 1);
    w.EndWriteMsg();
    w.BeginWriteMsg(0, 2);
    w.TakeOutput();
    EXPECT_EQ(w.WriteData(payload.data(), kMax), kMax);
    EXPECT_EQ(KindOf([&] { w.WriteU8(1); }), Kind::MessageTooLarge);
    EXPECT_EQ(w.EndWriteMsg(), 8 + kMax);
    EXPECT_EQ(w.TakeOutput(), Join(Header(kMax, 2, 0, 0), payload));
}

TEST(MessageBuffer, MisuseIsRefusedAndChangesNothing) {
    const struct {
        const char* what;
        void (*call)(NQMessageBuffer&);
        Kind kind;
    } rows[] = {
        {"write without a message", [](NQMessageBuffer& b) { b.WriteU8(1); }, Kind::NoOpenMessage},
        {"text without a message", [](NQMessageBuffer& b) { b.WriteString("x"); }, Kind::NoOpenMessage},
        {"seal without a message", [](NQMessageBuffer& b) { b.EndWriteMsg(); }, Kind::NoOpenMessage},
        {"a null block", [](NQMessageBuffer& b) { b.BeginWriteMsg(0, 2); b.WriteData(nullptr, 1); },
         Kind::InvalidArgument},
        {"null received bytes", [](NQMessageBuffer& b) { b.Receive(nullptr, 4); }, Kind::InvalidArgument},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        NQMessageBuffer b;
        b.BeginWriteMsg(0, 1);
        b.EndWriteMsg();
        b.Receive(nullptr, 0);
        EXPECT_EQ(KindOf([&] { row.call(b); }), row.kind);
        b.CancelMsg();  // drops the open message, if any
        EXPECT_FALSE(b.IsWriting());
        b.BeginWriteMsg(uint16_t{3});
        b.EndWriteMsg();
        EXPECT_EQ(Output(b), Join(Header(0, 1, 0, 0), Header(0, 3, 0, 1)));
        EXPECT_EQ(b.PendingInput(), 0u);
    }
}

}  // namespace
