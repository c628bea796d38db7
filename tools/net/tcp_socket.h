#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

// The few POSIX socket calls the reference client and server make, behind
// one owner of the descriptor. Every socket is non-blocking; waiting is done
// with poll by the caller.
namespace ktutils::tool {

// A socket call that failed: what was attempted, and the system's reason
// (`code`, an errno value, 0 when there is none).
class SocketError : public std::runtime_error {
public:
    explicit SocketError(const std::string& what, int code = 0)
        : std::runtime_error(what), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

class TcpSocket {
public:
    TcpSocket() noexcept = default;
    explicit TcpSocket(int fd) noexcept : fd_(fd) {}
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    ~TcpSocket();

    int fd() const noexcept { return fd_; }
    bool IsOpen() const noexcept { return fd_ >= 0; }

    // Listens on `host`:`port` (0: the system picks a port), with the
    // system's largest backlog, so that a burst of clients waits rather than
    // being refused.
    static TcpSocket Listen(const std::string& host, uint16_t port);
    // Connects to `host`:`port`, giving up after `timeout`.
    static TcpSocket Connect(const std::string& host, uint16_t port,
                             std::chrono::milliseconds timeout);
    // Takes the next waiting connection, or returns a closed socket when none
    // is waiting. Raises SocketError with the code of a real failure, such as
    // EMFILE when the process has no descriptor left.
    TcpSocket Accept() const;

    // The local port, and "address:port" of the local or remote end.
    uint16_t LocalPort() const;
    std::string LocalName() const;
    std::string PeerName() const;

    // Bytes moved, 0 when the call would block. Receive returns -1 at the
    // peer's orderly close. Both raise SocketError on a failed connection;
    // neither raises SIGPIPE.
    long Send(const uint8_t* bytes, std::size_t count) const;
    long Receive(uint8_t* bytes, std::size_t count) const;

private:
    int fd_ = -1;
};

}  // namespace ktutils::tool
