// Replaces the global operator new to watch allocations: a binary of its own,
// so that the other tests keep the sanitizers' new/delete checks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <new>

#include "buffer_test_util.h"
#include "ktutils/protocol/ktu_records.h"
#include "ktutils/protocol/xlist.h"

#if defined(__GNUC__) && !defined(__clang__)  // the deletes free what the probe's own new took from malloc
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static std::atomic<std::size_t> g_largest{0}, g_count{0};
static void ResetProbe() { g_largest = 0, g_count = 0; }

void* operator new(std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t seen = g_largest.load(); size > seen && !g_largest.compare_exchange_weak(seen, size);) {}
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

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

// A decoder appends an element at a time, a receiver clears the list for the next message.
TEST(XListAllocation, AppendsAllocateLogarithmicallyAndReuseClearedNodes) {
    XList<KTUGuidVersion> list;
    for (std::size_t most : {9, 0}) {  // the store and its doubling blocks, then nothing
        ResetProbe();
        for (unsigned i = 0; i < 1000; ++i) list.Append(KTUGuidVersion{{i, i}, i});
        EXPECT_LE(g_count.load(), most);
        EXPECT_EQ(std::prev(list.end())->version, 999u);
        list.Clear();
    }
}

}  // namespace
