#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/mqmath/mq_scratch_block.h"
#include "tests/host_os_mock.h"

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

TEST_F(MqAllocatorTest, BlocksAreWholeStepsAndHugePagesFromTwoMiB) {
    const struct {
        unsigned size;
        std::size_t mapped;
        bool huge;
    } rows[] = {{0, 64 * kKiB, false},     {1, 64 * kKiB, false},     {64 * kKiB + 1, 128 * kKiB, false},
                {2 * kMiB - 1, 2 * kMiB, false}, {2 * kMiB, 2 * kMiB, true}, {2 * kMiB + 1, 4 * kMiB, true}};
    for (const auto& row : rows) {
        allocator.Trim();
        EXPECT_CALL(os, MapPages(row.mapped, row.huge));
        MqScratchBlock block(row.size);
        ASSERT_NE(block.Memory(), nullptr);
        static_cast<unsigned char*>(block.Memory())[std::max(row.size, 1u) - 1] = 1;
    }
}

TEST_F(MqAllocatorTest, AKeptBlockServesTheSmallestFitNoLessThanAQuarterOfIt) {
    const struct {
        unsigned size;
        int kept;  // which of the kept blocks serves it; -1 a fresh one
    } rows[] = {{16 * kKiB, 0},  {64 * kKiB, 0}, {128 * kKiB, 1}, {192 * kKiB, -1},
                {256 * kKiB, 2}, {kMiB, 2},      {kMiB + 1, -1}};
    for (const auto& row : rows) {
        void* kept[3];
        {
            MqScratchBlock a(64 * kKiB), b(128 * kKiB), c(kMiB);
            kept[0] = a.Memory(), kept[1] = b.Memory(), kept[2] = c.Memory();
        }
        EXPECT_CALL(os, MapPages(_, _)).Times(row.kept < 0 ? 1 : 0);
        MqScratchBlock block(row.size);
        EXPECT_EQ(std::find(kept, kept + 3, block.Memory()) - kept, row.kept < 0 ? 3 : row.kept) << row.size;
        testing::Mock::VerifyAndClearExpectations(&os);
        allocator.Trim();
    }
}

TEST_F(MqAllocatorTest, KeptBlocksStayWithinTheBoundsOldestGoingFirst) {
    // Each round's blocks are held at once and given back in order; `unmapped`
    // counts blocks over all rounds.
    const struct {
        std::vector<unsigned> sizes;
        std::vector<int> unmapped;
        std::size_t kept;
    } rounds[] = {{{kMiB, kMiB, kMiB, kMiB, kMiB}, {0}, 4},  // at most four blocks
                  {{14 * kMiB}, {1, 2}, 3},                  // and 16 MiB, exactly
                  {{16 * kMiB + 1}, {6}, 3}};                // a larger one goes at once
    std::vector<void*> memory;
    for (const auto& round : rounds) {
        std::vector<std::unique_ptr<MqScratchBlock>> held;
        for (unsigned size : round.sizes) {
            held.push_back(std::make_unique<MqScratchBlock>(size));
            memory.push_back(held.back()->Memory());
        }
        for (int i : round.unmapped) EXPECT_CALL(os, UnmapPages(memory[i], _));
        for (auto& block : held) block.reset();
        testing::Mock::VerifyAndClearExpectations(&os);
        EXPECT_EQ(allocator.CachedBlocks(), round.kept);
    }
}

TEST_F(MqAllocatorTest, NoMemoryGivesNoBlockAfterDroppingTheKeptOnes) {
    { MqScratchBlock kept(64 * kKiB); }
    EXPECT_CALL(os, MapPages(_, _)).Times(2).WillRepeatedly(testing::Return(nullptr));
    MqScratchBlock block(10 * kMiB);
    EXPECT_EQ(block.Memory(), nullptr);
    EXPECT_EQ(allocator.CachedBlocks(), 0u);
}

TEST_F(MqAllocatorTest, ReleasesOfUnknownOrReturnedBlocksAreCountedAndIgnored) {
    const std::size_t strays = allocator.StrayReleases(), outstanding = allocator.OutstandingBlocks();
    int local = 0;
    allocator.ReleaseScratch(&local);
    allocator.ReleaseScratch(nullptr);
    {
        MqScratchBlock block(1);
        EXPECT_EQ(allocator.OutstandingBlocks(), outstanding + 1);
        allocator.ReleaseScratch(block.Memory());
    }
    EXPECT_EQ(allocator.StrayReleases(), strays + 3);
    EXPECT_EQ(allocator.OutstandingBlocks(), outstanding);
    EXPECT_EQ(allocator.CachedBlocks(), 1u);
}

TEST_F(MqAllocatorTest, ScratchStringsAreCountedAndReused) {
    const std::size_t before = allocator.OutstandingStrings();
    XString* a = allocator.AllocateScratchString();
    XString* b = allocator.AllocateScratchString();
    ASSERT_TRUE(a != nullptr && b != nullptr && a != b);
    EXPECT_EQ(allocator.OutstandingStrings(), before + 2);
    allocator.ReleaseScratchString(a);
    allocator.ReleaseScratchString(nullptr);
    EXPECT_EQ(allocator.OutstandingStrings(), before + 1);
    EXPECT_EQ(allocator.AllocateScratchString(), a);
    allocator.ReleaseScratchString(a);
    allocator.ReleaseScratchString(b);
    EXPECT_EQ(allocator.OutstandingStrings(), before);
}

#ifndef _WIN32
// A huge-page block is cut out of a larger mapping: the unaligned head and
// tail must go back, or every block leaks up to 2 MiB of address space.
TEST(MqHostOs, AHugePageBlockIsAlignedAndNothingAroundItStaysMapped) {
    ktutils::detail::HostOs& os = ktutils::detail::NativeHostOs();
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    for (std::size_t bytes : {MqAllocator::kHugePage + page, 3 * MqAllocator::kHugePage - page}) {
        auto* block = static_cast<unsigned char*>(os.MapPages(bytes, true));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % MqAllocator::kHugePage, 0u);
        block[0] = block[bytes - 1] = 1;
        unsigned char resident = 0;
        EXPECT_NE(mincore(block - page, page, &resident), 0) << "the head stayed mapped";
        EXPECT_NE(mincore(block + bytes, page, &resident), 0) << "the tail stayed mapped";
        os.UnmapPages(block, bytes);
    }
}
#endif

}  // namespace
