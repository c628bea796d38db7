#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "ktutils/host/mqmath/mq_allocator.h"
#include "ktutils/host/mqmath/mq_scratch_block.h"
#include "tests/host_os_mock.h"

namespace {

using testing::_;
using testing::NiceMock;

class MqAllocatorTest : public testing::Test {
protected:
    NiceMock<MockHostOs> os;
    ScopedHostOs installed{&os};  // starts and ends with nothing kept
    MqAllocator& allocator = MqAllocator::Instance();
};

TEST_F(MqAllocatorTest, BlockIsAtLeastTheSizeAndWritable) {
    for (unsigned int size : {0u, 1u, 65537u, 3u << 20}) {
        MqScratchBlock block(size);
        ASSERT_NE(block.Memory(), nullptr) << size;
        if (size != 0) {
            std::memset(block.Memory(), 0xAB, size);
            EXPECT_EQ(static_cast<unsigned char*>(block.Memory())[size - 1], 0xAB);
        }
    }
}

TEST_F(MqAllocatorTest, ReleasedBlockIsReusedWithoutMappingAgain) {
    void* first = nullptr;
    {
        MqScratchBlock block(5u << 20);
        first = block.Memory();
    }
    EXPECT_EQ(allocator.CachedBlocks(), 1u);
    EXPECT_CALL(os, MapPages(_, _)).Times(0);
    MqScratchBlock again((5u << 20) - 100);
    EXPECT_EQ(again.Memory(), first);
}

TEST_F(MqAllocatorTest, LargeBlocksAskForHugePages) {
    EXPECT_CALL(os, MapPages(2u << 20, true));
    EXPECT_CALL(os, MapPages(64u << 10, false));
    MqScratchBlock large(2u << 20);
    MqScratchBlock small(100);
}

TEST_F(MqAllocatorTest, ASmallRequestDoesNotPinAMuchLargerBlock) {
    { MqScratchBlock large(8u << 20); }
    EXPECT_CALL(os, MapPages(64u << 10, false));
    MqScratchBlock small(100);
    EXPECT_EQ(allocator.CachedBlocks(), 1u);
}

TEST_F(MqAllocatorTest, KeptBlocksStayWithinTheBounds) {
    {
        MqScratchBlock a(1u << 20), b(1u << 20), c(2u << 20), d(2u << 20), e(3u << 20);
    }
    EXPECT_EQ(allocator.CachedBlocks(), MqAllocator::kMaxCachedBlocks);
    // A block over the byte bound is unmapped as soon as it is given back.
    EXPECT_CALL(os, UnmapPages(_, _)).Times(testing::AtLeast(1));
    { MqScratchBlock huge(static_cast<unsigned int>(MqAllocator::kMaxCachedBytes + 1)); }
    EXPECT_EQ(allocator.CachedBlocks(), MqAllocator::kMaxCachedBlocks);
}

TEST_F(MqAllocatorTest, NoMemoryGivesNoBlockAfterDroppingTheKeptOnes) {
    { MqScratchBlock kept(64u << 10); }
    ON_CALL(os, MapPages(_, _)).WillByDefault(testing::Return(nullptr));
    MqScratchBlock block(10u << 20);
    EXPECT_EQ(block.Memory(), nullptr);
    EXPECT_EQ(allocator.CachedBlocks(), 0u);
}

TEST_F(MqAllocatorTest, UnknownOrRepeatedReleasesAreCountedAndIgnored) {
    const std::size_t strays = allocator.StrayReleases();
    int local = 0;
    allocator.ReleaseScratch(&local);
    allocator.ReleaseScratch(nullptr);
    EXPECT_EQ(allocator.StrayReleases(), strays + 2);
}

TEST_F(MqAllocatorTest, ScratchStringsAreNeverNullAndCounted) {
    const std::size_t before = allocator.OutstandingStrings();
    XString* a = allocator.AllocateScratchString();
    XString* b = allocator.AllocateScratchString();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(allocator.OutstandingStrings(), before + 2);
    allocator.ReleaseScratchString(a);
    allocator.ReleaseScratchString(b);
    EXPECT_EQ(allocator.OutstandingStrings(), before);
}

}  // namespace
