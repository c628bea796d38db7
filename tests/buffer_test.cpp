#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "buffer_test_util.h"
#include "ktutils/host/nq2/nq_message_buffer.h"

namespace {

using Kind = NQBufferError::Kind;

// A buffer holding one received message of `type` whose payload is `payload`.
struct Received {
    NQMessageBuffer buffer;
    Received(uint16_t type, const std::vector<uint8_t>& payload) {
        NQMessageBuffer writer;
        EXPECT_NE(writer.BeginWriteMsg(0, type), 0u);
        if (!payload.empty()) writer.WriteData(payload.data(), static_cast<uint32_t>(payload.size()));
        writer.EndWriteMsg();
        Feed(buffer, writer.TakeOutput());
        EXPECT_TRUE(buffer.NextMsg());
    }
};

TEST(MessageBuffer, FramesASessionMessageLittleEndian) {
    NQMessageBuffer b;
    ASSERT_EQ(b.BeginWriteMsg(7, 0x1234), NQMessageBuffer::kHeaderSize);
    b.WriteU8(0xAB);
    b.WriteU16(0xBEEF);
    b.WriteU32(0x01020304);
    EXPECT_EQ(b.EndWriteMsg(), 8u + 7u);
    const std::vector<uint8_t> expected = {
        0x07, 0x00, 0x00, 0x00,  // payload length 7
        0x34, 0x12,              // type
        0x07,                    // channel
        0x00,                    // form: session
        0xAB, 0xEF, 0xBE, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(Output(b), expected);
}

TEST(MessageBuffer, OneArgumentOpeningWritesTheDiscoveryForm) {
    NQMessageBuffer b;
    ASSERT_NE(b.BeginWriteMsg(uint16_t{25}), 0u);
    b.EndWriteMsg();
    EXPECT_EQ(Output(b), (std::vector<uint8_t>{0, 0, 0, 0, 25, 0, 0, 1}));
}

TEST(MessageBuffer, EveryTypedValueRoundTrips) {
    const uint8_t block[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xFF};
    NQMessageBuffer w;
    ASSERT_NE(w.BeginWriteMsg(0, 300), 0u);
    EXPECT_EQ(w.WriteU8(0), 1u);
    EXPECT_EQ(w.WriteU8(0xFF), 1u);
    EXPECT_EQ(w.WriteU16(0xFFFF), 2u);
    EXPECT_EQ(w.WriteU16(0x0102), 2u);
    EXPECT_EQ(w.WriteU32(0xFFFFFFFFu), 4u);
    EXPECT_EQ(w.WriteU32(0x80000001u), 4u);
    EXPECT_EQ(w.WriteString(""), 1u);
    EXPECT_EQ(w.WriteString("h\xC3\xA9llo"), 7u);  // bytes pass unchanged
    EXPECT_EQ(w.WriteString(nullptr), 1u);
    EXPECT_EQ(w.WriteData(block, 16), 16u);
    w.EndWriteMsg();

    NQMessageBuffer r;
    Feed(r, w.TakeOutput());
    ASSERT_TRUE(r.NextMsg());
    EXPECT_EQ(r.MsgType(), 300);
    uint8_t u8 = 1;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    const char* text = nullptr;
    const uint8_t* data = nullptr;
    r.ReadU8(u8);
    EXPECT_EQ(u8, 0);
    r.ReadU8(u8);
    EXPECT_EQ(u8, 0xFF);
    r.ReadU16(u16);
    EXPECT_EQ(u16, 0xFFFF);
    r.ReadU16(u16);
    EXPECT_EQ(u16, 0x0102);
    r.ReadU32(u32);
    EXPECT_EQ(u32, 0xFFFFFFFFu);
    r.ReadU32(u32);
    EXPECT_EQ(u32, 0x80000001u);
    EXPECT_EQ(r.ReadString(text), 1u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(r.ReadString(text), 7u);
    EXPECT_STREQ(text, "h\xC3\xA9llo");
    r.ReadString(text);
    EXPECT_STREQ(text, "");
    EXPECT_NE(r.CurrentMsg(), 0);
    EXPECT_EQ(r.ReadData(data, 16), 16u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, block, 16), 0);
    EXPECT_EQ(r.CurrentMsg(), 0);
}

TEST(MessageBuffer, ReadPastTheEndRaisesAndConsumesNothing) {
    Received m(20, {0x11, 0x22, 0x33});
    uint32_t u32 = 0xCAFEF00D;
    EXPECT_EQ(KindOf([&] { m.buffer.ReadU32(u32); }), Kind::ReadPastEnd);
    EXPECT_EQ(u32, 0xCAFEF00Du);
    const uint8_t* data = nullptr;
    EXPECT_EQ(KindOf([&] { m.buffer.ReadData(data, 4); }), Kind::ReadPastEnd);
    EXPECT_EQ(data, nullptr);
    // The refused reads left the position where it was.
    uint16_t u16 = 0;
    uint8_t u8 = 0;
    m.buffer.ReadU16(u16);
    m.buffer.ReadU8(u8);
    EXPECT_EQ(u16, 0x2211);
    EXPECT_EQ(u8, 0x33);
    EXPECT_EQ(m.buffer.CurrentMsg(), 0);
    EXPECT_EQ(KindOf([&] { m.buffer.ReadU8(u8); }), Kind::ReadPastEnd);
}

TEST(MessageBuffer, ReadsNeverReachIntoTheNextMessage) {
    NQMessageBuffer w;
    w.BeginWriteMsg(0, 1);
    const uint8_t unterminated[] = {'a', 'b'};
    w.WriteData(unterminated, 2);
    w.EndWriteMsg();
    w.BeginWriteMsg(0, 2);
    w.WriteString("x");  // a zero byte right behind the first message
    w.WriteU32(7);
    w.EndWriteMsg();
    NQMessageBuffer r;
    Feed(r, w.TakeOutput());
    ASSERT_TRUE(r.NextMsg());
    const char* text = nullptr;
    EXPECT_EQ(KindOf([&] { r.ReadString(text); }), Kind::UnterminatedString);
    EXPECT_EQ(text, nullptr);
    uint32_t u32 = 0;
    EXPECT_EQ(KindOf([&] { r.ReadU32(u32); }), Kind::ReadPastEnd);
}

TEST(MessageBuffer, EmptyPayloadHasNoCurrentData) {
    Received m(17, {});
    EXPECT_EQ(m.buffer.MsgType(), 17);
    EXPECT_EQ(m.buffer.CurrentMsg(), 0);
    const char* text = nullptr;
    EXPECT_EQ(KindOf([&] { m.buffer.ReadString(text); }), Kind::UnterminatedString);
}

TEST(MessageBuffer, NextMessageSkipsWhatWasLeftUnread) {
    NQMessageBuffer w;
    for (uint16_t type = 1; type <= 3; ++type) {
        w.BeginWriteMsg(0, type);
        w.WriteU32(type * 1000u);
        w.WriteU32(0xFFFFFFFF);
        w.EndWriteMsg();
    }
    NQMessageBuffer r;
    Feed(r, w.TakeOutput());
    for (uint16_t type = 1; type <= 3; ++type) {
        ASSERT_TRUE(r.NextMsg());
        EXPECT_EQ(r.MsgType(), type);
        EXPECT_EQ(r.MsgOffset(), (type - 1) * 16u);
        uint32_t value = 0;
        r.ReadU32(value);  // the second field is left unread
        EXPECT_EQ(value, type * 1000u);
    }
    EXPECT_FALSE(r.NextMsg());
    EXPECT_FALSE(r.HasMsg());
    EXPECT_EQ(r.CurrentMsg(), 0);
}

std::vector<uint8_t> ThreeMessages() {
    NQMessageBuffer w;
    w.BeginWriteMsg(0, 20);
    w.WriteU32(0xA1A2A3A4);
    w.EndWriteMsg();
    w.BeginWriteMsg(uint16_t{25});
    w.EndWriteMsg();
    w.BeginWriteMsg(3, 122);
    w.WriteString("denied");
    w.WriteU8(9);
    w.EndWriteMsg();
    return w.TakeOutput();
}

TEST(MessageBuffer, AStreamCutAnywhereYieldsOnlyCompleteMessages) {
    const std::vector<uint8_t> stream = ThreeMessages();
    const std::vector<std::size_t> ends = {12, 20, stream.size()};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        NQMessageBuffer r;
        r.Receive(stream.data(), cut);
        std::vector<uint16_t> types;
        while (r.NextMsg()) types.push_back(r.MsgType());
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= cut) ++complete;
        ASSERT_EQ(types.size(), complete);

        r.Receive(stream.data() + cut, stream.size() - cut);
        while (r.NextMsg()) types.push_back(r.MsgType());
        EXPECT_EQ(types, (std::vector<uint16_t>{20, 25, 122}));
        EXPECT_EQ(r.MsgChannel(), 0);  // nothing current after the last
        EXPECT_EQ(r.PendingInput(), 0u);
    }
}

TEST(MessageBuffer, AStreamFedByteByByteKeepsFieldsAndOffsets) {
    const std::vector<uint8_t> stream = ThreeMessages();
    NQMessageBuffer r;
    std::vector<uint64_t> offsets;
    for (uint8_t byte : stream) {
        r.Receive(&byte, 1);
        while (r.NextMsg()) {
            offsets.push_back(r.MsgOffset());
            if (r.MsgType() == 122) {
                EXPECT_EQ(r.MsgChannel(), 3);
                const char* text = nullptr;
                r.ReadString(text);
                EXPECT_STREQ(text, "denied");
            }
            if (r.MsgType() == 25) {
                EXPECT_EQ(r.MsgForm(), NQMessageBuffer::Form::Discovery);
            }
        }
    }
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 12, 20}));
}

TEST(MessageBuffer, ThePayloadLimitIsInclusive) {
    const uint32_t max = NQMessageBuffer::kMaxPayloadSize;
    std::vector<uint8_t> payload(max + 1, 0x5A);

    NQMessageBuffer w(2 * max);
    ASSERT_NE(w.BeginWriteMsg(0, 1), 0u);
    w.WriteData(payload.data(), max);
    EXPECT_EQ(KindOf([&] { w.WriteU8(1); }), Kind::MessageTooLarge);
    EXPECT_EQ(w.EndWriteMsg(), NQMessageBuffer::kHeaderSize + max);

    NQMessageBuffer r;
    Feed(r, w.TakeOutput());
    ASSERT_TRUE(r.NextMsg());
    const uint8_t* data = nullptr;
    r.ReadData(data, max);
    EXPECT_EQ(r.CurrentMsg(), 0);

    NQMessageBuffer over;
    Feed(over, Header(max + 1, 1, 0, 0));
    Feed(over, payload);
    EXPECT_EQ(KindOf([&] { over.NextMsg(); }), Kind::MessageTooLarge);
}

TEST(MessageBuffer, AHeaderNoWriterProducesIsRefused) {
    NQMessageBuffer unknownForm;
    Feed(unknownForm, Header(0, 14, 0, 2));
    EXPECT_EQ(KindOf([&] { unknownForm.NextMsg(); }), Kind::MalformedHeader);

    NQMessageBuffer discoveryOnAChannel;
    Feed(discoveryOnAChannel, Header(0, 25, 4, 1));
    EXPECT_EQ(KindOf([&] { discoveryOnAChannel.NextMsg(); }), Kind::MalformedHeader);
}

TEST(MessageBuffer, CancelLeavesEarlierSealedMessagesIntact) {
    NQMessageBuffer b;
    b.BeginWriteMsg(0, 14);
    b.WriteU32(42);
    b.EndWriteMsg();
    const std::vector<uint8_t> before = Output(b);

    ASSERT_NE(b.BeginWriteMsg(0, 15), 0u);
    b.WriteU32(1);
    b.WriteString("dropped");
    b.CancelMsg();
    EXPECT_FALSE(b.IsWriting());
    EXPECT_EQ(Output(b), before);
    b.CancelMsg();  // nothing open: harmless
    EXPECT_EQ(Output(b), before);

    b.BeginWriteMsg(0, 16);
    b.EndWriteMsg();
    std::vector<uint8_t> expected = before;
    const std::vector<uint8_t> shutdown = Header(0, 16, 0, 0);
    expected.insert(expected.end(), shutdown.begin(), shutdown.end());
    EXPECT_EQ(Output(b), expected);
}

TEST(MessageBuffer, OpeningIsRefusedWhileAMessageIsOpenOrTheOutputIsFull) {
    NQMessageBuffer b(NQMessageBuffer::kHeaderSize + 4);
    ASSERT_NE(b.BeginWriteMsg(0, 1), 0u);
    EXPECT_EQ(b.BeginWriteMsg(0, 2), 0u);
    EXPECT_EQ(b.BeginWriteMsg(uint16_t{25}), 0u);
    b.WriteU32(1);
    EXPECT_EQ(KindOf([&] { b.WriteU8(1); }), Kind::MessageTooLarge);
    b.EndWriteMsg();
    const std::vector<uint8_t> full = Output(b);
    EXPECT_EQ(b.BeginWriteMsg(0, 3), 0u);
    EXPECT_EQ(Output(b), full);
    b.TakeOutput();  // sending makes room again
    EXPECT_NE(b.BeginWriteMsg(0, 3), 0u);
}

TEST(MessageBuffer, WritesAndSealsNeedAnOpenMessage) {
    NQMessageBuffer b;
    EXPECT_EQ(KindOf([&] { b.WriteU8(1); }), Kind::NoOpenMessage);
    EXPECT_EQ(KindOf([&] { b.WriteString("x"); }), Kind::NoOpenMessage);
    EXPECT_EQ(KindOf([&] { b.EndWriteMsg(); }), Kind::NoOpenMessage);
    EXPECT_EQ(b.OutputSize(), 0u);
    b.BeginWriteMsg(0, 1);
    EXPECT_EQ(KindOf([&] { b.WriteData(nullptr, 16); }), Kind::InvalidArgument);
    EXPECT_EQ(b.WriteData(nullptr, 0), 0u);
}

TEST(MessageBuffer, TakeOutputKeepsTheOpenMessageOpen) {
    NQMessageBuffer b;
    b.BeginWriteMsg(0, 1);
    b.EndWriteMsg();
    b.BeginWriteMsg(0, 2);
    b.WriteU8(5);
    EXPECT_EQ(b.TakeOutput(), Header(0, 1, 0, 0));
    EXPECT_EQ(b.OutputSize(), 0u);
    b.WriteU8(6);
    b.EndWriteMsg();
    std::vector<uint8_t> expected = Header(2, 2, 0, 0);
    expected.push_back(5);
    expected.push_back(6);
    EXPECT_EQ(b.TakeOutput(), expected);
}

TEST(MessageBuffer, AHandedOutTextStaysInsideTheReceivedBytes) {
    // A long stream received in small pieces is compacted as it is walked;
    // each text must still be the one that was sent.
    NQMessageBuffer w(1 << 20);
    for (int i = 0; i < 500; ++i) {
        w.BeginWriteMsg(0, 21);
        w.WriteString(std::to_string(i).c_str());
        w.EndWriteMsg();
    }
    const std::vector<uint8_t> stream = w.TakeOutput();
    NQMessageBuffer r;
    int next = 0;
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        r.Receive(stream.data() + at, std::min<std::size_t>(7, stream.size() - at));
        while (r.NextMsg()) {
            const char* text = nullptr;
            r.ReadString(text);
            ASSERT_EQ(std::string(text), std::to_string(next++));
        }
    }
    EXPECT_EQ(next, 500);
}

}  // namespace
