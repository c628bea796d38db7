// Lists cross the library's boundary, so their layout is a contract with code
// compiled elsewhere.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iterator>

#include "tests/support/buffer_test_util.h"
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

// A pointer-sized word of raw memory, `offset` bytes into `at`.
const void* WordAt(const void* at, std::size_t offset) {
    const void* word;
    return std::memcpy(&word, static_cast<const unsigned char*>(at) + offset, sizeof word), word;
}

// A live two-element list read at the layout's offsets: sentinel at 0, 32-bit count one pointer on; in a node,
// next at `nextAt` (the value padded to a pointer), prev after it.
template <class T> std::vector<std::size_t> Measured(std::size_t nextAt) {
    XList<T> list;
    list.Append(T{}), list.Append(T{});
    const void *head = WordAt(&list, 0), *first = &*list.begin(), *second = &*std::next(list.begin());
    uint32_t count;
    std::memcpy(&count, reinterpret_cast<const unsigned char*>(&list) + sizeof(void*), sizeof count);
    return {sizeof(XList<T>), sizeof(T), count, WordAt(head, nextAt) == first, WordAt(first, nextAt) == second,
            WordAt(first, nextAt + sizeof(void*)) == head};
}

// The numbers of a 32-bit program of the platform (4-byte pointers), and their 64-bit counterparts.
TEST(XListLayout, ListsNodesAndRecordsHaveThePlatformsSizesAndOffsets) {
    const std::size_t list = 2 * sizeof(void*), padded12 = sizeof(void*) == 4 ? 12 : 16;
    const struct { const char* what; std::vector<std::size_t> got, expected; } rows[] = {
        {"XList<KTUGUID>", Measured<KTUGUID>(8), {list, 8, 2, 1, 1, 1}},
        {"XList<KTUGuidVersion>", Measured<KTUGuidVersion>(padded12), {list, 12, 2, 1, 1, 1}},
        {"XList<KTUModuleInfo>", Measured<KTUModuleInfo>(padded12), {list, 12, 2, 1, 1, 1}},
        {"KTUVersion, KTUGuidVersion::version, KTUModuleInfo::state",
         {sizeof(KTUVersion), offsetof(KTUGuidVersion, version), offsetof(KTUModuleInfo, state)}, {4, 8, 8}},
    };
    for (const auto& row : rows) EXPECT_EQ(row.got, row.expected) << row.what;
}

}  // namespace
