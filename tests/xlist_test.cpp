#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "ktutils/protocol/xlist.h"

namespace {

template <class T>
std::vector<T> Items(const XList<T>& list) {
    return std::vector<T>(list.begin(), list.end());
}

TEST(XList, AppendsInOrderAndCounts) {
    XList<int> list;
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.begin(), list.end());
    for (int i = 1; i <= 4; ++i) list.Append(i);
    EXPECT_EQ(list.GetCount(), 4u);
    EXPECT_EQ(Items(list), (std::vector<int>{1, 2, 3, 4}));
    // Walking backwards from the sentinel meets the last element first.
    std::vector<int> backwards;
    for (auto it = list.end(); it != list.begin();) backwards.push_back(*--it);
    EXPECT_EQ(backwards, (std::vector<int>{4, 3, 2, 1}));
}

TEST(XList, CopiesAreIndependent) {
    XList<int> a;
    a.Append(1);
    a.Append(2);
    XList<int> b(a);
    b.Append(3);
    *a.begin() = 10;
    EXPECT_EQ(Items(a), (std::vector<int>{10, 2}));
    EXPECT_EQ(Items(b), (std::vector<int>{1, 2, 3}));
    a = b;
    EXPECT_EQ(Items(a), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(a.GetCount(), 3u);
    a = a;  // self-assignment keeps the list
    EXPECT_EQ(a.GetCount(), 3u);
}

TEST(XList, AMovedFromListIsEmptyAndUsable) {
    XList<int> a;
    a.Append(1);
    XList<int> b(std::move(a));
    EXPECT_EQ(Items(b), (std::vector<int>{1}));
    EXPECT_TRUE(a.IsEmpty());  // NOLINT(bugprone-use-after-move): the state is specified
    EXPECT_EQ(a.begin(), a.end());
    a.Append(5);
    EXPECT_EQ(Items(a), (std::vector<int>{5}));
    b = std::move(a);
    EXPECT_EQ(Items(b), (std::vector<int>{5}));
}

TEST(XList, ClearFreesEveryElementAndKeepsTheListUsable) {
    XList<int> list;
    list.Clear();  // before any element: nothing to free
    for (int i = 0; i < 100; ++i) list.Append(i);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(list.begin(), list.end());
    list.Append(7);
    EXPECT_EQ(Items(list), (std::vector<int>{7}));
}

struct FailingCopy {
    static bool fail;
    int value = 0;
    FailingCopy() = default;
    explicit FailingCopy(int v) : value(v) {}
    FailingCopy(const FailingCopy& other) = default;
    FailingCopy& operator=(const FailingCopy& other) {
        if (fail) throw std::runtime_error("copy failed");
        value = other.value;
        return *this;
    }
};
bool FailingCopy::fail = false;

TEST(XList, AFailingAppendLeavesTheListAsItWas) {
    XList<FailingCopy> list;
    list.Append(FailingCopy(1));
    list.Append(FailingCopy(2));
    FailingCopy::fail = true;
    EXPECT_THROW(list.Append(FailingCopy(3)), std::runtime_error);
    FailingCopy::fail = false;
    EXPECT_EQ(list.GetCount(), 2u);
    std::vector<int> values;
    for (const FailingCopy& f : list) values.push_back(f.value);
    EXPECT_EQ(values, (std::vector<int>{1, 2}));
    list.Append(FailingCopy(4));
    EXPECT_EQ(std::prev(list.end())->value, 4);
}

}  // namespace
