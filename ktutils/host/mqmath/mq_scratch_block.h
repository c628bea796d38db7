#pragma once

#include "ktutils/host/mqmath/mq_allocator.h"

// Holds one scratch block for the length of a call: takes it when made and
// gives it back when destroyed, on the normal path or while an exception
// passes. Holds nothing when the allocator had no memory.
class MqScratchBlock {
public:
    explicit MqScratchBlock(unsigned int size) : m_pool(MqAllocator::Instance().XAllocateScratch(size)) {}
    ~MqScratchBlock() {
        if (m_pool != nullptr) MqAllocator::Instance().ReleaseScratch(m_pool->Memory());
    }
    MqScratchBlock(const MqScratchBlock&) = delete;
    MqScratchBlock& operator=(const MqScratchBlock&) = delete;

    // Null when no block is held.
    void* Memory() const noexcept { return m_pool != nullptr ? m_pool->Memory() : nullptr; }

private:
    MqMemoryPool* m_pool;
};
