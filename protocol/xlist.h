#pragma once

#include <cstdint>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>

// The platform's list: circular, doubly linked, with a sentinel node.
//
// The object holds a pointer to its sentinel and the element count; each
// node holds its value, then the next and previous pointers, and is a heap
// allocation of its own. The sentinel's next node is the first element and
// its previous node the last. The sentinel is allocated with the first
// element, so an empty list costs no allocation and a moved-from list is
// simply an empty one; from then on an empty list's sentinel points at itself.
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

    XList() noexcept = default;

    XList(const XList& other) : XList() {
        for (const T& value : other) Append(value);
    }

    XList(XList&& other) noexcept
        : m_pHead(std::exchange(other.m_pHead, nullptr)),
          m_count(std::exchange(other.m_count, 0)) {}

    XList& operator=(const XList& other) {
        if (this != &other) {
            XList copy(other);  // built aside, so a throw leaves *this untouched
            Swap(copy);
        }
        return *this;
    }

    XList& operator=(XList&& other) noexcept {
        XList taken(std::move(other));
        Swap(taken);
        return *this;
    }

    ~XList() {
        Clear();
        delete m_pHead;
    }

    // Appends a copy of `value` behind the last element.
    void Append(const T& value) {
        if (m_count == UINT32_MAX) throw std::length_error("XList: element count overflow");
        Node* head = Sentinel();
        std::unique_ptr<Node> node(new Node{});  // value-initialised: every field zero
        node->value = value;
        Node* last = head->prev;
        node->next = head;
        node->prev = last;
        last->next = node.get();
        head->prev = node.release();
        ++m_count;
    }

    // Frees every element; the list stays usable.
    void Clear() noexcept {
        if (m_pHead == nullptr) return;
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

    // First to last; an empty list without a sentinel yields begin() == end().
    iterator begin() noexcept { return iterator(m_pHead ? m_pHead->next : nullptr); }
    iterator end() noexcept { return iterator(m_pHead); }
    const_iterator begin() const noexcept { return const_iterator(m_pHead ? m_pHead->next : nullptr); }
    const_iterator end() const noexcept { return const_iterator(m_pHead); }

private:
    Node* Sentinel() {
        if (m_pHead == nullptr) {
            m_pHead = new Node{};
            m_pHead->next = m_pHead;
            m_pHead->prev = m_pHead;
        }
        return m_pHead;
    }

    Node* m_pHead = nullptr;  // the sentinel
    uint32_t m_count = 0;
};
