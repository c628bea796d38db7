#include <gtest/gtest.h>

#include "allocation_probe.h"
#include "buffer_test_util.h"
#include "ktutils/host/nq2/nq_message_buffer.h"

namespace {

TEST(MessageBufferAllocation, TheProbeSeesTheBuffersOwnAllocations) {
    // Without this, the bounds below would hold for a probe that sees nothing.
    NQMessageBuffer r;
    ResetLargestAllocation();
    Feed(r, Header(NQMessageBuffer::kMaxPayloadSize, 14, 0, 0));
    Feed(r, std::vector<uint8_t>(NQMessageBuffer::kMaxPayloadSize));
    EXPECT_TRUE(r.NextMsg());
    EXPECT_GE(LargestAllocation(), std::size_t{NQMessageBuffer::kMaxPayloadSize});
}

TEST(MessageBufferAllocation, AnOversizedDeclaredLengthIsRefusedWithoutAllocating) {
    NQMessageBuffer r;
    Feed(r, Header(0xFFFFFFF0u, 14, 0, 0));
    const uint8_t someBytes[64] = {};
    r.Receive(someBytes, sizeof someBytes);
    ResetLargestAllocation();
    EXPECT_EQ(KindOf([&] { r.NextMsg(); }), NQBufferError::Kind::MessageTooLarge);
    EXPECT_LT(LargestAllocation(), 4096u);
    // The stream stays refused: the same header is met again.
    EXPECT_EQ(KindOf([&] { r.NextMsg(); }), NQBufferError::Kind::MessageTooLarge);
    EXPECT_EQ(r.MsgOffset(), 0u);
}

TEST(MessageBufferAllocation, APartialMessageIsNotSizedByItsHeader) {
    // A header that declares the largest allowed payload, then a trickle.
    NQMessageBuffer r;
    Feed(r, Header(NQMessageBuffer::kMaxPayloadSize, 14, 0, 0));
    ResetLargestAllocation();
    for (int i = 0; i < 10; ++i) {
        const uint8_t byte = 0;
        r.Receive(&byte, 1);
        EXPECT_FALSE(r.NextMsg());
    }
    EXPECT_LT(LargestAllocation(), 4096u);
}

}  // namespace
