#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "protocol/xlist.h"

namespace {

// The values first to last, then last to first from the sentinel.
template <class T>
std::vector<int> Walk(const XList<T>& list) {
    std::vector<int> values;
    for (const T& v : list) values.push_back(static_cast<int>(v));
    for (auto it = list.end(); it != list.begin();) values.push_back(static_cast<int>(*--it));
    EXPECT_EQ(values.size(), 2u * list.GetCount());
    return values;
}

TEST(XList, KeepsOrderThroughAppendCopyMoveAndClear) {
    XList<int> a;
    EXPECT_EQ(Walk(a), std::vector<int>{});
    a.Clear();  // before any element: nothing to free
    for (int i = 1; i <= 3; ++i) a.Append(i);
    XList<int> b(a);
    b.Append(4);
    *a.begin() = 10;
    EXPECT_EQ(Walk(a), (std::vector<int>{10, 2, 3, 3, 2, 10}));
    EXPECT_EQ(Walk(b), (std::vector<int>{1, 2, 3, 4, 4, 3, 2, 1}));
    a = b;
    a = a;
    EXPECT_EQ(Walk(a), Walk(b));
    XList<int> c(std::move(a));
    EXPECT_TRUE(a.IsEmpty());  // NOLINT(bugprone-use-after-move): a moved-from list is an empty one
    EXPECT_EQ(Walk(a), std::vector<int>{});
    a.Append(5);
    c = std::move(a);
    EXPECT_EQ(Walk(c), (std::vector<int>{5, 5}));
    for (int i = 0; i < 100; ++i) b.Append(i);
    b.Clear();
    EXPECT_TRUE(b.IsEmpty());
    b.Append(7);
    EXPECT_EQ(Walk(b), (std::vector<int>{7, 7}));
}

struct FailingCopy {
    static bool fail;
    int value = 0;
    explicit operator int() const { return value; }
    FailingCopy& operator=(const FailingCopy& other) {
        if (fail) throw std::runtime_error("copy failed");
        value = other.value;
        return *this;
    }
};
bool FailingCopy::fail = false;

TEST(XList, AFailingAppendLeavesTheListAsItWas) {
    XList<FailingCopy> list;
    list.Append(FailingCopy{1});
    FailingCopy::fail = true;
    EXPECT_THROW(list.Append(FailingCopy{2}), std::runtime_error);
    FailingCopy::fail = false;
    list.Append(FailingCopy{3});
    EXPECT_EQ(Walk(list), (std::vector<int>{1, 3, 3, 1}));
}

}  // namespace
