#include <gtest/gtest.h>

#include "allocation_probe.h"
#include "ktutils/protocol/ktu_records.h"
#include "ktutils/protocol/xlist.h"

namespace {

// A decoder appends one node per received element: the list must not cost a
// heap allocation each, and a list cleared for the next message must reuse
// its nodes.
TEST(XListAllocation, AppendsAllocateLogarithmicallyAndReuseClearedNodes) {
    struct Case {
        unsigned int elements;
        std::size_t mostAllocations;  // the node store and its doubling blocks
    };
    for (const Case& c : {Case{1, 2}, Case{16, 3}, Case{1000, 9}}) {
        XList<KTUGuidVersion> list;
        ResetLargestAllocation();
        for (unsigned int i = 0; i < c.elements; ++i) list.Append(KTUGuidVersion{{i, i}, i});
        EXPECT_LE(AllocationCount(), c.mostAllocations) << c.elements << " elements";
        list.Clear();
        ResetLargestAllocation();
        for (unsigned int i = 0; i < c.elements; ++i) list.Append(KTUGuidVersion{{i, i}, i});
        EXPECT_EQ(AllocationCount(), 0u) << c.elements << " elements after Clear";
        EXPECT_EQ(list.GetCount(), c.elements);
        EXPECT_EQ(std::prev(list.end())->version, c.elements - 1);
    }
}

}  // namespace
