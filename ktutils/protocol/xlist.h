#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <utility>

// The platform's list: circular, doubly linked, with a sentinel node.
//
// Lists cross the library's boundary in both directions (decoders append to
// the caller's list, encoders walk it), and the client and server programs
// that hand them over were compiled elsewhere against this exact layout. So
// the layout is fixed, not chosen:
// - the object is a pointer to its sentinel, then the element count, and
//   nothing else;
// - a node is the value, then the next and previous pointers;
// - every node, the sentinel's too, is one `new Node` of its own, freed with
//   `delete` one by one, so a program may free a node (or build a list) by
//   hand through the layout and mix that with the library's appends;
// - the sentinel exists from construction on: an empty list's next and
//   previous are the sentinel itself, never null, for whoever walks it.
//
// Append is the strong guarantee: a node is linked and counted only after it
// is fully built, so a throwing allocation or copy leaves the list as it was.
template <class T>
class XList {
    struct Node {
        T value;
        Node* next;
        Node* prev;
    };

    template <bool Const>
    class Iterator {
        using NodePtr = std::conditional_t<Const, const Node*, Node*>;

    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T*, T*>;
        using reference = std::conditional_t<Const, const T&, T&>;

        Iterator() noexcept = default;
        explicit Iterator(NodePtr node) noexcept : node_(node) {}
        // A mutable iterator converts to a constant one, never the reverse.
        template <bool C = Const, class = std::enable_if_t<C>>
        Iterator(const Iterator<false>& other) noexcept : node_(other.node_) {}  // NOLINT

        reference operator*() const noexcept { return node_->value; }
        pointer operator->() const noexcept { return &node_->value; }
        Iterator& operator++() noexcept { node_ = node_->next; return *this; }
        Iterator operator++(int) noexcept { Iterator was = *this; node_ = node_->next; return was; }
        Iterator& operator--() noexcept { node_ = node_->prev; return *this; }
        Iterator operator--(int) noexcept { Iterator was = *this; node_ = node_->prev; return was; }
        friend bool operator==(Iterator a, Iterator b) noexcept { return a.node_ == b.node_; }
        friend bool operator!=(Iterator a, Iterator b) noexcept { return a.node_ != b.node_; }

    private:
        friend class Iterator<true>;
        NodePtr node_ = nullptr;
    };

public:
    using value_type = T;
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    // Raises std::bad_alloc: even an empty list owns its sentinel.
    XList() : m_pHead(NewSentinel()) {}

    XList(const XList& other) : XList() {
        for (const T& value : other) Append(value);  // a throw here runs ~XList
    }

    // The moved-from list keeps a sentinel of its own (a fresh one), so it
    // stays an empty list that foreign code can walk; hence not noexcept.
    XList(XList&& other) : XList() { Swap(other); }

    XList& operator=(const XList& other) {
        if (this != &other) {
            XList copy(other);  // built aside, so a throw leaves *this untouched
            Swap(copy);
        }
        return *this;
    }

    // Hands this list's emptied sentinel to `other`: no allocation.
    XList& operator=(XList&& other) noexcept {
        if (this != &other) {
            Clear();
            Swap(other);
        }
        return *this;
    }

    ~XList() {
        // The contract with separately compiled code, checked for every
        // instantiation: {sentinel pointer, 32-bit count}, 8 bytes on 32-bit
        // targets and 16 on 64-bit ones (the count padded to the pointer's
        // alignment); a node starts with its value.
        static_assert(std::is_standard_layout<XList>::value, "XList is read through its layout");
        static_assert(offsetof(XList, m_pHead) == 0, "the sentinel pointer comes first");
        static_assert(offsetof(XList, m_count) == sizeof(Node*), "the count follows the sentinel pointer");
        static_assert(sizeof(XList) == 2 * sizeof(Node*), "nothing follows the count but padding");
        static_assert(offsetof(Node, value) == 0 && offsetof(Node, prev) == offsetof(Node, next) + sizeof(Node*),
                      "a node is its value, then next, then previous");
        Clear();
        delete m_pHead;
    }

    // Appends a copy of `value` behind the last element.
    void Append(const T& value) {
        if (m_count == UINT32_MAX) throw std::length_error("XList: element count overflow");
        Node* node = new Node{};  // value-initialised: every field zero
        try {
            node->value = value;
        } catch (...) {
            delete node;
            throw;
        }
        Node* last = m_pHead->prev;
        node->next = m_pHead;
        node->prev = last;
        last->next = node;
        m_pHead->prev = node;
        ++m_count;
    }

    // Frees every element node; the list stays usable.
    void Clear() noexcept {
        for (Node* node = m_pHead->next; node != m_pHead;) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        m_pHead->next = m_pHead;
        m_pHead->prev = m_pHead;
        m_count = 0;
    }

    uint32_t GetCount() const noexcept { return m_count; }
    bool IsEmpty() const noexcept { return m_count == 0; }

    void Swap(XList& other) noexcept {
        std::swap(m_pHead, other.m_pHead);
        std::swap(m_count, other.m_count);
    }

    iterator begin() noexcept { return iterator(m_pHead->next); }
    iterator end() noexcept { return iterator(m_pHead); }
    const_iterator begin() const noexcept { return const_iterator(m_pHead->next); }
    const_iterator end() const noexcept { return const_iterator(m_pHead); }

private:
    static Node* NewSentinel() {
        Node* head = new Node{};
        head->next = head;
        head->prev = head;
        return head;
    }

    Node* m_pHead;  // the sentinel
    uint32_t m_count = 0;
};

