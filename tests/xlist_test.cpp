// Lists cross the library's boundary, so their layout is a contract with code
// compiled elsewhere.
#include <gtest/gtest.h>

#include "buffer_test_util.h"
#include "ktutils/protocol/ktu_message2.h"

namespace {

// Lists as a program compiled elsewhere sees them: {sentinel, count}, nodes
// {value, next, prev}, each one `new` of its own. Such a program builds and
// frees nodes by hand, and the library appends to, walks and frees the same
// list; any node store of the library's own breaks that (a bad free).
template <class T> struct ForeignNode { T value; ForeignNode* next; ForeignNode* prev; };
template <class T> struct ForeignList { ForeignNode<T>* head; uint32_t count; };
template <class T> ForeignList<T>& Foreign(XList<T>& list) { return *reinterpret_cast<ForeignList<T>*>(&list); }

TEST(XListLayout, NodesBuiltAndFreedByHandMixWithTheLibrarysOwn) {
    XList<KTUGuidVersion> list;
    ForeignList<KTUGuidVersion>& raw = Foreign(list);
    ASSERT_TRUE(raw.head != nullptr && raw.head->next == raw.head && raw.head->prev == raw.head && raw.count == 0);
    auto handAppend = [&](uint32_t id) {
        auto* node = new ForeignNode<KTUGuidVersion>{KTUGuidVersion{{id, id}, id}, raw.head, raw.head->prev};
        raw.head->prev->next = node, raw.head->prev = node, ++raw.count;
    };
    handAppend(1);
    XList<KTUGuidVersion> wire;
    for (uint32_t id : {2u, 3u}) wire.Append(KTUGuidVersion{{id, id}, id});
    NQMessageBuffer out, in;
    KTUMessage2::WriteBadModule2(out, wire);
    Feed(in, Output(out));
    ASSERT_TRUE(in.NextMsg());
    ASSERT_EQ(KTUMessage2::ReadBadModule2(in, list), 1);
    handAppend(4);
    // The library's first node (id 2) unlinked and freed by hand, as foreign code would.
    ForeignNode<KTUGuidVersion>* second = raw.head->next->next;
    second->prev->next = second->next, second->next->prev = second->prev, --raw.count;
    delete second;
    NQMessageBuffer walked;
    KTUMessage2::WriteBadModule2(walked, list);
    std::vector<uint8_t> expected = Header(36, KTMESSAGETYPE2_BADMODULE, 0, 0);
    for (uint32_t id : {1u, 3u, 4u})
        for (int word = 0; word < 3; ++word) expected = Join(expected, {uint8_t(id), 0, 0, 0});
    EXPECT_EQ(Output(walked), expected);
    EXPECT_EQ(list.GetCount(), 3u);
    list.Clear();  // frees the hand-made nodes with the library's delete
    EXPECT_TRUE(raw.head->next == raw.head && raw.head->prev == raw.head && list.IsEmpty());
}

}  // namespace
