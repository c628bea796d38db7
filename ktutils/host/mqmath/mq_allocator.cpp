#include "ktutils/host/mqmath/mq_allocator.h"

#include <limits>
#include <new>

namespace {

std::size_t RoundUp(std::size_t size, std::size_t step) { return (size + step - 1) / step * step; }

}  // namespace

// Defined here so that a Windows program binding one to a reference finds it
// exported from the DLL.
constexpr std::size_t MqAllocator::kMaxCachedBlocks;
constexpr std::size_t MqAllocator::kMaxCachedBytes;
constexpr std::size_t MqAllocator::kMaxReuseRatio;
constexpr std::size_t MqAllocator::kSmallStep;
constexpr std::size_t MqAllocator::kHugePage;
constexpr std::size_t MqAllocator::kMaxCachedStrings;

MqAllocator& MqAllocator::Instance() {
    static MqAllocator* const instance = [] {
        auto* allocator = new MqAllocator;
        // Reserved once so that giving back, which runs in destructors, never
        // needs memory.
        allocator->m_cached.reserve(kMaxCachedBlocks + 1);
        allocator->m_cachedStrings.reserve(kMaxCachedStrings);
        return allocator;
    }();
    return *instance;
}

MqMemoryPool* MqAllocator::XAllocateScratch(unsigned int size) {
    // Whole pages, and whole huge pages once a block is big enough to use
    // them; the step also makes blocks for similar sizes interchangeable.
    // Only a 32-bit size_t can overflow in the rounding below.
    if (static_cast<std::size_t>(size) > std::numeric_limits<std::size_t>::max() - kHugePage) return nullptr;
    const std::size_t wanted = size == 0 ? 1 : size;
    const bool huge = wanted >= kHugePage;
    const std::size_t bytes = RoundUp(wanted, huge ? kHugePage : kSmallStep);

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The smallest kept block that fits and is not wastefully large.
        auto best = m_cached.end();
        for (auto it = m_cached.begin(); it != m_cached.end(); ++it) {
            const std::size_t capacity = (*it)->m_capacity;
            if (capacity < bytes || capacity / kMaxReuseRatio > bytes) continue;
            if (best == m_cached.end() || capacity < (*best)->m_capacity) best = it;
        }
        if (best != m_cached.end()) {
            MqMemoryPool* pool = *best;
            m_outstanding.emplace(pool->m_pMemory, pool);  // may throw: nothing changed yet
            m_cached.erase(best);
            m_cachedBytes -= pool->m_capacity;
            return pool;
        }
    }

    ktutils::detail::HostOs& os = ktutils::detail::CurrentHostOs();
    void* pages = os.MapPages(bytes, huge);
    if (pages == nullptr) {
        // The kept blocks may be what stands in the way.
        Trim();
        pages = os.MapPages(bytes, huge);
        if (pages == nullptr) return nullptr;
    }
    auto* pool = new (std::nothrow) MqMemoryPool;
    if (pool == nullptr) {
        os.UnmapPages(pages, bytes);
        return nullptr;
    }
    pool->m_pMemory = pages;
    pool->m_capacity = bytes;
    pool->m_os = &os;
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outstanding.emplace(pages, pool);
    } catch (...) {
        Unmap(pool);
        return nullptr;
    }
    return pool;
}

void MqAllocator::ReleaseScratch(void* memory) {
    MqMemoryPool* evicted[kMaxCachedBlocks + 1] = {};
    std::size_t evictedCount = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_outstanding.find(memory);
        if (found == m_outstanding.end()) {
            ++m_strayReleases;
            return;
        }
        MqMemoryPool* pool = found->second;
        m_outstanding.erase(found);
        if (pool->m_capacity > kMaxCachedBytes) {
            evicted[evictedCount++] = pool;
        } else {
            m_cached.push_back(pool);  // capacity reserved: cannot throw
            m_cachedBytes += pool->m_capacity;
            // The oldest go first until the bounds hold.
            std::size_t drop = 0;
            while (m_cached.size() - drop > kMaxCachedBlocks || m_cachedBytes > kMaxCachedBytes) {
                m_cachedBytes -= m_cached[drop]->m_capacity;
                evicted[evictedCount++] = m_cached[drop++];
            }
            m_cached.erase(m_cached.begin(), m_cached.begin() + static_cast<std::ptrdiff_t>(drop));
        }
    }
    // Unmapping can take milliseconds for a large block: not under the lock.
    for (std::size_t i = 0; i < evictedCount; ++i) Unmap(evicted[i]);
}

void MqAllocator::Trim() {
    std::vector<MqMemoryPool*> kept;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        kept.swap(m_cached);
        m_cached.reserve(kMaxCachedBlocks + 1);
        m_cachedBytes = 0;
    }
    for (MqMemoryPool* pool : kept) Unmap(pool);
}

void MqAllocator::Unmap(MqMemoryPool* pool) noexcept {
    pool->m_os->UnmapPages(pool->m_pMemory, pool->m_capacity);
    delete pool;
}

XString* MqAllocator::AllocateScratchString() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_cachedStrings.empty()) {
            XString* text = m_cachedStrings.back();
            m_cachedStrings.pop_back();
            ++m_outstandingStrings;
            return text;
        }
    }
    auto* text = new XString;  // throws rather than return null
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_outstandingStrings;
    return text;
}

void MqAllocator::ReleaseScratchString(XString* text) {
    if (text == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_outstandingStrings;
        if (m_cachedStrings.size() < kMaxCachedStrings) {
            m_cachedStrings.push_back(text);  // capacity reserved: cannot throw
            return;
        }
    }
    delete text;
}

std::size_t MqAllocator::OutstandingBlocks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outstanding.size();
}

std::size_t MqAllocator::OutstandingStrings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outstandingStrings;
}

std::size_t MqAllocator::CachedBlocks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cached.size();
}

std::size_t MqAllocator::StrayReleases() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strayReleases;
}
