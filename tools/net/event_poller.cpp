#include "tools/net/event_poller.h"

#include <poll.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/epoll.h>
#endif

#include <cerrno>
#include <cstring>

#include "tools/net/tcp_socket.h"

namespace ktutils::tool {

EventPoller::EventPoller(Backend backend) : backend_(backend) {
#ifdef __linux__
    if (backend_ == Backend::Epoll) {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) throw SocketError(std::string("epoll_create1: ") + std::strerror(errno));
    }
#else
    backend_ = Backend::Poll;
#endif
}

EventPoller::~EventPoller() {
    if (epoll_ >= 0) close(epoll_);
}

void EventPoller::Watch(int fd, bool read, bool write) {
    const uint8_t wanted = static_cast<uint8_t>((read ? kRead : 0) | (write ? kWrite : 0));
    const auto it = interest_.find(fd);
    const uint8_t had = it == interest_.end() ? 0 : it->second;
    if (wanted == had) return;
    if (wanted == 0) {
        Forget(fd);
        return;
    }
    interest_[fd] = wanted;
#ifdef __linux__
    if (backend_ == Backend::Epoll) {
        epoll_event event{};
        event.events = ((wanted & kRead) != 0 ? EPOLLIN : 0u) | ((wanted & kWrite) != 0 ? EPOLLOUT : 0u);
        event.data.fd = fd;
        if (epoll_ctl(epoll_, had == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event) != 0) {
            interest_.erase(fd);
            throw SocketError(std::string("epoll_ctl: ") + std::strerror(errno));
        }
    }
#endif
}

void EventPoller::Forget(int fd) {
    if (interest_.erase(fd) == 0) return;
#ifdef __linux__
    if (backend_ == Backend::Epoll) epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
#endif
}

const std::vector<EventPoller::Ready>& EventPoller::Wait(int timeoutMs) {
    ready_.clear();
#ifdef __linux__
    if (backend_ == Backend::Epoll) {
        epoll_event events[256];
        const int count = epoll_wait(epoll_, events, 256, timeoutMs);
        for (int i = 0; i < count; ++i) {
            const uint32_t e = events[i].events;
            // A hang-up or an error is news for the reader, who learns which.
            const bool broken = (e & (EPOLLHUP | EPOLLERR)) != 0;
            ready_.push_back({events[i].data.fd, (e & EPOLLIN) != 0 || broken,
                              (e & EPOLLOUT) != 0 || broken});
        }
        return ready_;
    }
#endif
    std::vector<pollfd> fds;
    fds.reserve(interest_.size());
    for (const auto& [fd, wanted] : interest_) {
        const short events = static_cast<short>(((wanted & kRead) != 0 ? POLLIN : 0) |
                                                ((wanted & kWrite) != 0 ? POLLOUT : 0));
        fds.push_back({fd, events, 0});
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return ready_;
    for (const pollfd& p : fds) {
        if (p.revents == 0) continue;
        const bool broken = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        ready_.push_back({p.fd, (p.revents & POLLIN) != 0 || broken,
                          (p.revents & POLLOUT) != 0 || broken});
    }
    return ready_;
}

}  // namespace ktutils::tool
