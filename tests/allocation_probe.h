#pragma once

#include <cstddef>

// The largest single operator-new request since the last reset, and the
// number of requests.
void ResetLargestAllocation();
std::size_t LargestAllocation();
std::size_t AllocationCount();
