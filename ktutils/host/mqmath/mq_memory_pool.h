#pragma once

#include <cstddef>

#include "ktutils/host/mqmath/host_os.h"
#include "ktutils/mqmath_export.h"

class MqAllocator;

// One scratch block of the runtime's allocator. Callers read its memory
// pointer, the first member, and hand that pointer back to ReleaseScratch.
class MQMATH_EXPORT MqMemoryPool {
public:
    void* Memory() const noexcept { return m_pMemory; }
    std::size_t Capacity() const noexcept { return m_capacity; }

private:
    friend class MqAllocator;

    void* m_pMemory = nullptr;  // must stay the first member
    std::size_t m_capacity = 0;
    ktutils::detail::HostOs* m_os = nullptr;  // mapped the pages; unmaps them
};
