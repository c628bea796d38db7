#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

// Readiness of many descriptors at once, for the reference server's one
// thread. Linux uses epoll, so that a turn costs the sockets that are ready,
// not every socket held; elsewhere poll, which walks them all.
namespace ktutils::tool {

class EventPoller {
public:
    enum class Backend { Epoll, Poll };
    static constexpr Backend kBest =
#ifdef __linux__
        Backend::Epoll;
#else
        Backend::Poll;
#endif

    struct Ready {
        int fd;
        bool readable;  // also at the peer's close or an error: a read tells which
        bool writable;
    };

    explicit EventPoller(Backend backend = kBest);
    ~EventPoller();
    EventPoller(const EventPoller&) = delete;
    EventPoller& operator=(const EventPoller&) = delete;

    // Watches `fd` for what is asked, or stops watching it when nothing is.
    // Calls that change nothing cost nothing.
    void Watch(int fd, bool read, bool write);
    // Forgets `fd`; call before closing it.
    void Forget(int fd);

    // Waits up to `timeoutMs` for readiness; the result lives until the next call.
    const std::vector<Ready>& Wait(int timeoutMs);

private:
    static constexpr uint8_t kRead = 1;
    static constexpr uint8_t kWrite = 2;

    Backend backend_;
    int epoll_ = -1;
    std::unordered_map<int, uint8_t> interest_;
    std::vector<Ready> ready_;
};

}  // namespace ktutils::tool
