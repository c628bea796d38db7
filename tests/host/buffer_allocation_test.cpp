#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/buffer_test_util.h"
#include "ktutils/protocol/ktu_records.h"
#include "ktutils/protocol/xlist.h"

#if defined(__GNUC__) && !defined(__clang__)  // the deletes free what the probe's own new took from malloc
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static std::atomic<std::size_t> g_largest{0}, g_count{0}, g_freed{0};
static void ResetProbe() { g_largest = 0, g_count = 0, g_freed = 0; }
static void Free(void* p) noexcept { g_freed += p != nullptr; std::free(p); }

void* operator new(std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t seen = g_largest.load(); size > seen && !g_largest.compare_exchange_weak(seen, size);) {}
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace {

constexpr uint32_t kMax = NQMessageBuffer::kMaxPayloadSize;

// What a peer sends cannot make the receiver allocate more than it received.
TEST(MessageBufferAllocation, ReceivedMemoryFollowsTheBytesNotTheHeaders) {
    NQMessageBuffer whole, oversized, trickled, walked;
    const std::vector<uint8_t> big = Join(Header(kMax, 14, 0, 0), std::vector<uint8_t>(kMax));
    ResetProbe();
    Feed(whole, big);
    EXPECT_GE(g_largest.load(), big.size());  // the probe sees the buffer's own allocations
    std::vector<uint8_t> stream;
    for (uint8_t i = 0; i < 250; ++i) stream = Join(Join(stream, Header(2, 14, 0, 0)), {i, 0});
    ResetProbe();
    Feed(oversized, Join(Header(0xFFFFFFF0u, 14, 0, 0), std::vector<uint8_t>(64)));
    EXPECT_EQ(KindOf([&] { oversized.NextMsg(); }), NQBufferError::Kind::MessageTooLarge);
    Feed(trickled, Header(kMax, 14, 0, 0));
    for (uint8_t byte = 0; byte < 10; ++byte) trickled.Receive(&byte, 1);
    EXPECT_FALSE(trickled.NextMsg());
    // A long stream cut anywhere, walked as it comes: what was walked past goes, values and offsets stay right.
    uint32_t next = 0;
    for (std::size_t at = 0; at < 50 * stream.size(); at += 4) {
        walked.Receive(&stream[at % stream.size()], 4);
        for (uint16_t value = 0; walked.NextMsg(); ++next) {
            walked.ReadU16(value);
            ASSERT_EQ(std::make_pair(walked.MsgOffset(), value), std::make_pair(10 * uint64_t{next}, uint16_t(next % 250)));
        }
    }
    EXPECT_TRUE(next == 12500 && g_largest.load() < 4096) << next << " messages, " << g_largest << " bytes at once";
}

// Each node, the sentinel's too, is a heap allocation of its own, freed on its own: code compiled elsewhere
// frees nodes one by one with delete, which a node store would turn into a bad free.
TEST(XListAllocation, EveryNodeIsOneAllocationOfItsOwn) {
    ResetProbe();
    {
        XList<KTUGuidVersion> list;
        EXPECT_EQ(g_count.load(), 1u);  // the sentinel, from construction on
        for (unsigned i = 0; i < 40; ++i) list.Append(KTUGuidVersion{{i, i}, i});
        EXPECT_EQ(g_count.load(), 41u);
        struct Node { KTUGuidVersion value; void* next; void* prev; };
        EXPECT_EQ(g_largest.load(), sizeof(Node));
        list.Clear();
        EXPECT_EQ(g_freed.load(), 40u);
    }
    EXPECT_EQ(g_freed.load(), 41u);
}

}  // namespace
