#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "ktutils/host/mqmath/mq_scratch_block.h"
#include "tests/support/host_os_mock.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using testing::_;
constexpr unsigned kKiB = 1024, kMiB = 1024 * 1024;

class MqAllocatorTest : public testing::Test {
protected:
    testing::NiceMock<MockHostOs> os;
    ScopedHostOs installed{&os};  // starts and ends with nothing kept
    MqAllocator& allocator = MqAllocator::Instance();
};

// With 64 KiB, 128 KiB and 1 MiB kept, the smallest that fits and is at most four times the request
// serves it (`kept`), else a fresh block of `mapped` bytes (whole steps, huge pages from 2 MiB).
TEST_F(MqAllocatorTest, AKeptBlockServesTheSmallestFitElseAFreshOneIsMapped) {
    const struct { unsigned size; int kept; std::size_t mapped = 0; bool huge = false; } rows[] = {{0, 0}, {16 * kKiB, 0},
        {64 * kKiB, 0}, {64 * kKiB + 1, 1}, {128 * kKiB, 1}, {192 * kKiB, -1, 192 * kKiB}, {256 * kKiB, 2}, {kMiB, 2},
        {kMiB + 1, -1, kMiB + 64 * kKiB}, {2 * kMiB - 1, -1, 2 * kMiB}, {2 * kMiB, -1, 2 * kMiB, true},
        {2 * kMiB + 1, -1, 4 * kMiB, true}};
    for (const auto& row : rows) {
        allocator.Trim();
        void* kept[3] = {MqScratchBlock(64 * kKiB).Memory(), MqScratchBlock(128 * kKiB).Memory(), MqScratchBlock(kMiB).Memory()};
        EXPECT_CALL(os, MapPages(row.mapped, row.huge)).Times(row.kept < 0 ? 1 : 0);
        MqScratchBlock block(row.size);
        EXPECT_EQ(std::find(kept, kept + 3, block.Memory()) - kept, row.kept < 0 ? 3 : row.kept) << row.size;
        testing::Mock::VerifyAndClearExpectations(&os);
    }
}

// Given back in order: at most four blocks and 16 MiB stay, the oldest going first (`unmapped` counts from 0).
TEST_F(MqAllocatorTest, KeptBlocksStayWithinTheBoundsOldestFirst) {
    const struct { unsigned size; std::vector<int> unmapped; std::size_t kept; } steps[] = {
        {kMiB, {}, 1}, {kMiB, {}, 2}, {kMiB, {}, 3}, {kMiB, {}, 4}, {kMiB, {0}, 4}, {14 * kMiB, {1, 2}, 3},
        {16 * kMiB + 1, {6}, 3}};
    std::vector<std::unique_ptr<MqScratchBlock>> blocks;
    std::vector<void*> memory;
    for (const auto& step : steps) memory.push_back(blocks.emplace_back(std::make_unique<MqScratchBlock>(step.size))->Memory());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_CALL(os, UnmapPages(_, _)).Times(0);
        for (int k : steps[i].unmapped) EXPECT_CALL(os, UnmapPages(memory[k], _));
        blocks[i].reset();
        testing::Mock::VerifyAndClearExpectations(&os);
        EXPECT_EQ(allocator.CachedBlocks(), steps[i].kept) << "after block " << i;
    }
}

TEST_F(MqAllocatorTest, WithoutMemoryTheKeptBlocksGoBeforeASecondTry) {
    int calls = 0, failures = 0;
    ON_CALL(os, MapPages).WillByDefault([&](auto n, auto h) { return ++calls <= failures ? nullptr : os.native.MapPages(n, h); });
    for (failures = 1; failures <= 2; ++failures) {
        allocator.Trim();
        { MqScratchBlock kept(64 * kKiB); }
        calls = 0;
        MqScratchBlock block(10 * kMiB);
        EXPECT_TRUE((block.Memory() != nullptr) == (failures == 1) && calls == 2 && allocator.CachedBlocks() == 0);
    }
}

#ifndef _WIN32
// A huge-page block is cut out of a larger mapping: the unaligned head and tail must go back.
TEST(MqHostOs, AHugePageBlockIsAlignedAndNothingAroundItStaysMapped) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), huge = MqAllocator::kHugePage;
    for (std::size_t bytes : {huge + page, 3 * huge - page}) {
        auto* block = static_cast<unsigned char*>(ktutils::detail::NativeHostOs().MapPages(bytes, true));
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % huge, 0u);
        block[0] = block[bytes - 1] = 1;
        unsigned char resident = 0;
        EXPECT_TRUE(mincore(block - page, page, &resident) != 0 && mincore(block + bytes, page, &resident) != 0)
            << "the head or the tail stayed mapped";
        ktutils::detail::NativeHostOs().UnmapPages(block, bytes);
    }
}
#endif

}  // namespace
