// Replaces the global allocation functions of the allocation test binary to
// record the largest single request and count the requests. Kept in a translation unit of its own,
// and a binary of its own, so the other tests keep the sanitizers' own
// new/delete checks.
#include <atomic>
#include <cstdlib>
#include <new>

#include "allocation_probe.h"

namespace {
std::atomic<std::size_t> g_largest{0};
std::atomic<std::size_t> g_count{0};
}

void ResetLargestAllocation() {
    g_largest = 0;
    g_count = 0;
}
std::size_t LargestAllocation() { return g_largest.load(); }
std::size_t AllocationCount() { return g_count.load(); }

void* operator new(std::size_t size) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    std::size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
