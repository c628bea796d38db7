#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

// The platform's list: circular, doubly linked, with a sentinel node.
//
// The object holds a pointer to its sentinel and the element count (then its
// node storage); each node holds its value, then the next and previous
// pointers. The sentinel's next node is the first element and its previous
// node the last. The sentinel is made with the first element, so an empty
// list costs no allocation and a moved-from list is simply an empty one; from
// then on an empty list's sentinel points at itself.
//
// Nodes are not one heap allocation each: they come from blocks owned by the
// list, each twice the size of the one before, and Clear keeps the nodes it
// frees for the next appends. A decoder that fills a list, and a receiver
// that clears it for the next message, then allocate nothing per element.
// The storage goes when the list does.
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

    // Raw room for nodes, handed out in order from blocks that double in
    // size. The list only ever frees all its elements at once (Clear), so
    // the store rewinds instead of keeping a free list: the next appends
    // take the same slots again, in order, with no pointer to chase.
    class NodeStore {
    public:
        NodeStore() = default;
        NodeStore(const NodeStore&) = delete;
        NodeStore& operator=(const NodeStore&) = delete;
        ~NodeStore() {
            while (m_oldest != nullptr) {
                Block* newer = m_oldest->newer;
                ::operator delete(m_oldest);
                m_oldest = newer;
            }
        }

        // Room for one node; raises std::bad_alloc.
        void* Take() {
            if (m_left == 0) NextBlock();
            void* slot = m_fresh;
            m_fresh += sizeof(Node);
            --m_left;
            return slot;
        }

        // Gives back the slot that the last Take handed out, its node
        // destroyed or never built.
        void Untake() noexcept {
            m_fresh -= sizeof(Node);
            ++m_left;
        }

        // Every slot free again but the first, which holds the sentinel.
        void Rewind() noexcept {
            m_current = m_oldest;
            m_fresh = Slots(m_oldest) + sizeof(Node);
            m_left = m_oldest->capacity - 1;
        }

    private:
        struct Block {
            Block* newer;
            std::size_t capacity;
        };
        static constexpr std::size_t kSlotsAt = (sizeof(Block) + alignof(Node) - 1) / alignof(Node) * alignof(Node);
        static constexpr std::size_t kFirstBlock = 8;      // the sentinel and seven elements
        static constexpr std::size_t kLargestBlock = 4096;  // slots; past it, growth is linear
        static_assert(alignof(Node) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "node storage from operator new");

        static unsigned char* Slots(Block* block) noexcept {
            return reinterpret_cast<unsigned char*>(block) + kSlotsAt;
        }

        void NextBlock() {
            Block* next = m_current != nullptr ? m_current->newer : nullptr;
            if (next == nullptr) {
                const std::size_t capacity =
                    m_current == nullptr ? kFirstBlock : std::min(m_current->capacity * 2, kLargestBlock);
                next = ::new (::operator new(kSlotsAt + capacity * sizeof(Node))) Block{nullptr, capacity};
                (m_current != nullptr ? m_current->newer : m_oldest) = next;
            }
            m_current = next;
            m_fresh = Slots(next);
            m_left = next->capacity;
        }

        Block* m_oldest = nullptr;
        Block* m_current = nullptr;  // the block m_fresh lies in
        unsigned char* m_fresh = nullptr;
        std::size_t m_left = 0;  // slots from m_fresh to the end of m_current
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
          m_count(std::exchange(other.m_count, 0)),
          m_pStore(std::exchange(other.m_pStore, nullptr)) {}

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
        if (m_pHead != nullptr) m_pHead->~Node();
        delete m_pStore;
    }

    // Appends a copy of `value` behind the last element.
    void Append(const T& value) {
        if (m_count == UINT32_MAX) throw std::length_error("XList: element count overflow");
        Node* head = Sentinel();
        void* slot = m_pStore->Take();
        Node* node = nullptr;
        try {
            node = ::new (slot) Node{};  // value-initialised: every field zero
            node->value = value;
        } catch (...) {
            if (node != nullptr) node->~Node();
            m_pStore->Untake();
            throw;
        }
        Node* last = head->prev;
        node->next = head;
        node->prev = last;
        last->next = node;
        head->prev = node;
        ++m_count;
    }

    // Destroys every element and keeps their nodes' room for the next
    // appends; the list stays usable.
    void Clear() noexcept {
        if (m_pHead == nullptr) return;
        if (!std::is_trivially_destructible<T>::value) {
            for (Node* node = m_pHead->next; node != m_pHead;) {
                Node* next = node->next;
                node->~Node();
                node = next;
            }
        }
        m_pStore->Rewind();
        m_pHead->next = m_pHead;
        m_pHead->prev = m_pHead;
        m_count = 0;
    }

    uint32_t GetCount() const noexcept { return m_count; }
    bool IsEmpty() const noexcept { return m_count == 0; }

    void Swap(XList& other) noexcept {
        std::swap(m_pHead, other.m_pHead);
        std::swap(m_count, other.m_count);
        std::swap(m_pStore, other.m_pStore);
    }

    // First to last; an empty list without a sentinel yields begin() == end().
    iterator begin() noexcept { return iterator(m_pHead ? m_pHead->next : nullptr); }
    iterator end() noexcept { return iterator(m_pHead); }
    const_iterator begin() const noexcept { return const_iterator(m_pHead ? m_pHead->next : nullptr); }
    const_iterator end() const noexcept { return const_iterator(m_pHead); }

private:
    Node* Sentinel() {
        if (m_pHead == nullptr) {
            std::unique_ptr<NodeStore> store(new NodeStore);
            Node* head = ::new (store->Take()) Node{};
            head->next = head;
            head->prev = head;
            m_pStore = store.release();
            m_pHead = head;
        }
        return m_pHead;
    }

    Node* m_pHead = nullptr;  // the sentinel
    uint32_t m_count = 0;
    NodeStore* m_pStore = nullptr;  // every node's room, the sentinel's too
};
