#include "tools/net/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace ktutils::tool {
namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
    throw SocketError(what + ": " + std::strerror(error), error);
}

struct AddressList {
    addrinfo* first = nullptr;
    ~AddressList() {
        if (first != nullptr) freeaddrinfo(first);
    }
};

void Resolve(const std::string& host, uint16_t port, bool passive, AddressList& list) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list.first);
    if (rc != 0) throw SocketError("resolve " + host + ": " + gai_strerror(rc));
}

std::string Name(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    uint16_t port = 0;
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
        port = ntohs(in.sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        port = ntohs(in6.sin6_port);
    }
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

void MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) Fail("fcntl", errno);
}

}  // namespace

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

TcpSocket::~TcpSocket() {
    if (fd_ >= 0) close(fd_);
}

TcpSocket TcpSocket::Listen(const std::string& host, uint16_t port) {
    AddressList list;
    Resolve(host, port, true, list);
    const std::string where = "listen on " + host + ":" + std::to_string(port);
    int error = 0;
    for (addrinfo* a = list.first; a != nullptr; a = a->ai_next) {
        TcpSocket socket(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (!socket.IsOpen()) {
            error = errno;
            continue;
        }
        const int yes = 1;
        setsockopt(socket.fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(socket.fd_, a->ai_addr, a->ai_addrlen) != 0 || listen(socket.fd_, SOMAXCONN) != 0) {
            error = errno;
            continue;
        }
        MakeNonBlocking(socket.fd_);
        return socket;
    }
    Fail(where, error);
}

TcpSocket TcpSocket::Connect(const std::string& host, uint16_t port,
                             std::chrono::milliseconds timeout) {
    AddressList list;
    Resolve(host, port, false, list);
    const std::string where = "connect to " + host + ":" + std::to_string(port);
    int error = 0;
    for (addrinfo* a = list.first; a != nullptr; a = a->ai_next) {
        TcpSocket socket(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (!socket.IsOpen()) {
            error = errno;
            continue;
        }
        MakeNonBlocking(socket.fd_);
        if (connect(socket.fd_, a->ai_addr, a->ai_addrlen) == 0) return socket;
        if (errno != EINPROGRESS) {
            error = errno;
            continue;
        }
        pollfd p{socket.fd_, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(timeout.count()));
        if (ready == 0) {
            error = ETIMEDOUT;
            continue;
        }
        socklen_t length = sizeof error;
        if (ready < 0 || getsockopt(socket.fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
            continue;
        }
        if (error == 0) return socket;
    }
    Fail(where, error);
}

TcpSocket TcpSocket::Accept() const {
#ifdef __linux__
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
#else
    const int fd = accept(fd_, nullptr, nullptr);
#endif
    if (fd < 0) {
        // A connection that was reset before it was taken is not the
        // listener's failure.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR) {
            return TcpSocket();
        }
        Fail("accept", errno);
    }
    TcpSocket socket(fd);
#ifndef __linux__
    MakeNonBlocking(fd);
#endif
    return socket;
}

uint16_t TcpSocket::LocalPort() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Fail("getsockname", errno);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

std::string TcpSocket::LocalName() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "?";
    return Name(address);
}

std::string TcpSocket::PeerName() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "?";
    return Name(address);
}

long TcpSocket::Send(const uint8_t* bytes, std::size_t count) const {
    const ssize_t sent = send(fd_, bytes, count, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    Fail("send", errno);
}

long TcpSocket::Receive(uint8_t* bytes, std::size_t count) const {
    const ssize_t received = recv(fd_, bytes, count, 0);
    if (received > 0) return static_cast<long>(received);
    if (received == 0) return -1;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    Fail("recv", errno);
}

}  // namespace ktutils::tool
