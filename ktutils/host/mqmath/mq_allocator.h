#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "ktutils/host/mqmath/mq_memory_pool.h"
#include "ktutils/host/mqmath/xstring.h"
#include "ktutils/mqmath_export.h"

class MqScratchBlock;

// The process's one scratch allocator: large blocks for reading whole files,
// and strings for building names. Thread-safe.
//
// Released blocks are kept for reuse, because the page faults of fresh memory
// cost more than reading a small cached file; blocks of 2 MiB and more are
// advised onto huge pages. What is kept is small and bounded (see the
// constants below and docs/scratch-memory.md): a block larger than the bound
// goes back to the OS as soon as it is released, so checksumming one large
// file does not leave its size in memory.
class MQMATH_EXPORT MqAllocator {
public:
    // At most this many released blocks and bytes are kept for reuse; a block
    // larger than the byte bound is unmapped when released.
    static constexpr std::size_t kMaxCachedBlocks = 4;
    static constexpr std::size_t kMaxCachedBytes = std::size_t{16} << 20;
    // A kept block serves a request no smaller than a quarter of it, so one
    // small file cannot pin a huge block.
    static constexpr std::size_t kMaxReuseRatio = 4;
    // Sizes are rounded up to these steps, so blocks for similar files match.
    static constexpr std::size_t kSmallStep = std::size_t{64} << 10;
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;
    // Strings kept for reuse.
    static constexpr std::size_t kMaxCachedStrings = 16;

    // Never destroyed: usable from other objects' destructors at exit.
    static MqAllocator& Instance();

    MqAllocator(const MqAllocator&) = delete;
    MqAllocator& operator=(const MqAllocator&) = delete;

    // Gives back the block whose memory pointer this is. A pointer that is not
    // an outstanding block (null, unknown, already given back) is ignored and
    // counted (StrayReleases).
    void ReleaseScratch(void* memory);

    // Never null.
    XString* AllocateScratchString();
    void ReleaseScratchString(XString* text);

    // Unmaps every kept block.
    void Trim();

    // For diagnostics and tests.
    std::size_t OutstandingBlocks() const;
    std::size_t OutstandingStrings() const;
    std::size_t CachedBlocks() const;
    std::size_t StrayReleases() const;

private:
    friend class MqScratchBlock;

    MqAllocator() = default;
    ~MqAllocator() = default;

    // A block of at least `size` bytes, or null when no memory can be had.
    MqMemoryPool* XAllocateScratch(unsigned int size);
    void Unmap(MqMemoryPool* pool) noexcept;

    mutable std::mutex m_mutex;
    std::vector<MqMemoryPool*> m_cached;  // oldest first
    std::size_t m_cachedBytes = 0;
    std::unordered_map<void*, MqMemoryPool*> m_outstanding;
    std::vector<XString*> m_cachedStrings;
    std::size_t m_outstandingStrings = 0;
    std::size_t m_strayReleases = 0;
};
