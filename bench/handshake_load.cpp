// Handshakes per second and handshake latency (99th percentile and worst) of
// the reference server (`ktutils serve --quiet`, run in this process on its
// own thread) against a trivial poll echo server given the same traffic, in
// the same run, on loopback. A handshake is one connection: LookForServer,
// BeginChallenge, a connect request carrying the challenge, Shutdown, each
// awaiting its answer, then close; the echo server sends every frame straight
// back.
//
// Usage: ktutils-handshake-bench [SECONDS]   (default 3 per server and load)
// Loads: 64 busy clients; 4 busy clients beside 200 idle connections; 1 busy
// client beside 50 flooders, connections that send LookForServer as fast as
// the server reads and read every answer, to a server offering 200 modules
// (a 1.6 KiB ServerInfo each). The servers take turns in rounds of
// SECONDS/6, so that a machine whose load varies (other work) weighs on both
// alike. Then the lock-out cases, with the server's defaults: 11 handshakes
// one after another, each step awaited 5 s at most (connect's default),
// beside 1,100 idle connections, and beside a client that keeps opening new
// connections to hold the places of connections not logged in.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "ktutils/ktutils.h"
#include "tools/net/reference_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using ktutils::tool::MessagePrinter;

std::vector<uint8_t> Frame(int step, uint32_t challenge, const std::string& name) {
    NQMessageBuffer out;
    switch (step) {
    case 0: KTUMessage2::WriteLookForServer(out); break;
    case 1: KTUMessage2::WriteBeginChallenge2(out); break;
    case 2:
        KTUMessage2::WriteChallengeConnect2(out, challenge, XString(name.c_str()), XString(""),
                                            GetKTUVersion(), XList<KTUGuidVersion>());
        break;
    default: KTUMessage2::WriteShutdown2(out); break;
    }
    return out.TakeOutput();
}

int ConnectTo(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return fd;
}

struct Client {
    int fd = -1;
    int step = 0;
    uint32_t challenge = 0;
    std::vector<uint8_t> in;
    Clock::time_point started;
};

struct Result {
    double seconds = 0;
    std::vector<double> ms;  // each handshake's latency

    void Add(const Result& other) {
        seconds += other.seconds;
        ms.insert(ms.end(), other.ms.begin(), other.ms.end());
    }
    double PerSecond() const { return seconds > 0 ? ms.size() / seconds : 0; }
    double Percentile(double p) const {
        if (ms.empty()) return 0;
        std::vector<double> sorted = ms;
        const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at), sorted.end());
        return sorted[at];
    }
};

// Tags the epoll entries of flooders apart from those of clients.
constexpr uintptr_t kFlooderTag = 1;

// Runs `busy` clients handshaking back to back for `duration`, with `idle`
// connections held open and silent beside them, and `flooders` sending
// LookForServer as fast as they are read and reading every answer.
Result Measure(uint16_t port, unsigned busy, unsigned idle, unsigned flooders,
               std::chrono::milliseconds duration) {
    std::vector<int> silent;
    for (unsigned i = 0; i < idle; ++i) silent.push_back(ConnectTo(port));
    const int epoll = epoll_create1(0);
    std::vector<Client> clients(busy);
    std::vector<double> ms;
    std::vector<int> flooding;
    const std::vector<uint8_t> look = Frame(0, 0, "");
    std::vector<uint8_t> burst;
    for (int i = 0; i < 512; ++i) burst.insert(burst.end(), look.begin(), look.end());
    for (unsigned i = 0; i < flooders; ++i) {
        const int fd = ConnectTo(port);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT;
        event.data.u64 = (static_cast<uint64_t>(fd) << 1) | kFlooderTag;
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
        flooding.push_back(fd);
    }

    auto send = [&](Client& c) {
        const auto bytes = Frame(c.step, c.challenge, "bench" + std::to_string(&c - clients.data()));
        if (::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
            std::perror("send");
            std::exit(1);
        }
    };
    auto begin = [&](Client& c) {
        c.fd = ConnectTo(port);
        c.step = 0;
        c.in.clear();
        c.started = Clock::now();
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = &c;
        epoll_ctl(epoll, EPOLL_CTL_ADD, c.fd, &event);
        send(c);
    };
    for (Client& c : clients) begin(c);

    const auto start = Clock::now();
    const auto end = start + duration;
    epoll_event events[256];
    while (Clock::now() < end) {
        const int count = epoll_wait(epoll, events, 256, 100);
        for (int i = 0; i < count; ++i) {
            if ((events[i].data.u64 & kFlooderTag) != 0) {
                const int fd = static_cast<int>(events[i].data.u64 >> 1);
                static uint8_t sink[256 * 1024];
                if ((events[i].events & EPOLLIN) != 0) ::recv(fd, sink, sizeof sink, 0);
                if ((events[i].events & EPOLLOUT) != 0) ::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL);
                continue;
            }
            Client& c = *static_cast<Client*>(events[i].data.ptr);
            uint8_t piece[4096];
            const ssize_t n = recv(c.fd, piece, sizeof piece, 0);
            if (n <= 0) {
                std::fprintf(stderr, "the server closed a client at step %d\n", c.step);
                std::exit(1);
            }
            c.in.insert(c.in.end(), piece, piece + n);
            if (c.in.size() < 8) continue;
            uint32_t length = 0;
            std::memcpy(&length, c.in.data(), 4);  // little-endian host, as the wire
            if (c.in.size() < 8 + length) continue;
            if (c.step == 1 && length >= 4) std::memcpy(&c.challenge, c.in.data() + 8, 4);
            c.in.clear();
            if (++c.step < 4) {
                send(c);
                continue;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - c.started).count());
            epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
            close(c.fd);
            begin(c);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (Client& c : clients) close(c.fd);
    for (int fd : silent) close(fd);
    for (int fd : flooding) close(fd);
    close(epoll);
    return {seconds, std::move(ms)};
}

// One handshake, each step awaited `patience` at most: whether it completed.
bool Handshake(uint16_t port, std::chrono::milliseconds patience) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    uint32_t challenge = 0;
    for (int step = 0; ok && step < 4; ++step) {
        const auto bytes = Frame(step, challenge, "lockout");
        ok = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
        std::vector<uint8_t> in;
        const auto deadline = Clock::now() + patience;
        while (ok) {
            uint32_t length = 0;
            if (in.size() >= 8) std::memcpy(&length, in.data(), 4);
            if (in.size() >= 8 && in.size() >= 8 + length) break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd, POLLIN, 0};
            uint8_t piece[4096];
            ssize_t n = 0;
            ok = left.count() > 0 && poll(&p, 1, static_cast<int>(left.count())) == 1 &&
                 (n = recv(fd, piece, sizeof piece, 0)) > 0;
            if (ok) in.insert(in.end(), piece, piece + n);
        }
        if (ok && step == 1) std::memcpy(&challenge, in.data() + 8, 4);
    }
    close(fd);
    return ok;
}

// 11 handshakes one after another beside 1,100 connections that never
// speak, opened before; with `renewing`, each one the server drops is opened
// again at once, so that they hold the places of connections not logged in.
unsigned LockOut(uint16_t port, bool renewing) {
    std::vector<pollfd> crowd;
    for (int i = 0; i < 1100; ++i) crowd.push_back({ConnectTo(port), POLLIN, 0});
    std::atomic<bool> stop{false};
    std::thread attacker([&] {
        while (renewing && !stop) {
            if (poll(crowd.data(), crowd.size(), 50) <= 0) continue;
            for (pollfd& p : crowd) {
                if (p.revents == 0) continue;
                close(p.fd);
                p.fd = ConnectTo(port);
            }
        }
    });
    unsigned served = 0;
    for (int i = 0; i < 11; ++i) served += Handshake(port, std::chrono::milliseconds(5000)) ? 1 : 0;
    stop = true;
    attacker.join();
    for (const pollfd& p : crowd) close(p.fd);
    return served;
}

// The baseline: one poll over every descriptor per turn, each readable one
// read once and its bytes sent straight back.
void EchoServer(int listener, const std::atomic<bool>& stop) {
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    while (!stop) {
        if (poll(fds.data(), fds.size(), 100) <= 0) continue;
        for (std::size_t i = fds.size(); i-- > 1;) {
            if (fds[i].revents == 0) continue;
            uint8_t piece[4096];
            const ssize_t n = recv(fds[i].fd, piece, sizeof piece, 0);
            if (n <= 0 || send(fds[i].fd, piece, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) {
                close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            for (int fd; (fd = accept4(listener, nullptr, nullptr, 0)) >= 0;) {
                fds.push_back({fd, POLLIN, 0});
            }
        }
    }
    for (const pollfd& p : fds) close(p.fd);
}

uint16_t ListenEcho(int& listener) {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, SOMAXCONN) != 0 || fcntl(listener, F_SETFL, O_NONBLOCK) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("echo server");
        std::exit(1);
    }
    return ntohs(address.sin_port);
}

// The reference server on a thread of its own; its port once it listens.
class ServerThread {
public:
    explicit ServerThread(ktutils::tool::ServeOptions options) : options_(std::move(options)) {
        options_.settings.version = GetKTUVersion();
        options_.quiet = true;
        printer_ = std::make_unique<MessagePrinter>(
            [this](std::string line) {
                const auto at = line.find("\"port\":");
                if (!told_ && at != std::string::npos) {
                    told_ = true;
                    listening_.set_value(static_cast<uint16_t>(std::atoi(line.c_str() + at + 7)));
                }
            },
            MessagePrinter::Style::Json);
        thread_ = std::thread([this] { ktutils::tool::RunServer(options_, *printer_); });
        port = listening_.get_future().get();
    }
    ~ServerThread() {
        ktutils::tool::RequestServerStop();
        thread_.join();
    }

    uint16_t port = 0;

private:
    ktutils::tool::ServeOptions options_;
    std::promise<uint16_t> listening_;
    bool told_ = false;
    std::unique_ptr<MessagePrinter> printer_;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    constexpr int kRounds = 6;
    const std::chrono::milliseconds round(1000 * (argc > 1 ? std::atoi(argv[1]) : 3) / kRounds);

    int echoListener = -1;
    const uint16_t echoPort = ListenEcho(echoListener);
    std::atomic<bool> stopEcho{false};
    std::thread echo(EchoServer, echoListener, std::cref(stopEcho));

    std::printf("%-30s %-14s %13s %9s %9s\n", "load", "server", "handshakes/s", "p99 ms", "max ms");
    const struct {
        const char* name;
        unsigned busy, idle, flooders;
    } loads[] = {{"64 busy", 64, 0, 0}, {"4 busy + 200 idle", 4, 200, 0},
                 {"1 busy + 50 flooders", 1, 0, 50}};
    for (const auto& load : loads) {
        ktutils::tool::ServeOptions options;
        options.settings.capacity = 1000000;
        if (load.flooders != 0) {
            // Flooders never log in: the deadline must not end the load.
            options.loginTimeout = std::chrono::hours(1);
            for (uint32_t i = 1; i <= 200; ++i) options.settings.modules.push_back({{i, 1}, 1});
        }
        const ServerThread server(options);
        Result ours, base;
        for (int i = 0; i < kRounds; ++i) {
            ours.Add(Measure(server.port, load.busy, load.idle, load.flooders, round));
            base.Add(Measure(echoPort, load.busy, load.idle, load.flooders, round));
        }
        for (const auto& [who, r] : {std::pair{"ktutils serve", &ours}, std::pair{"poll echo", &base}}) {
            std::printf("%-30s %-14s %13.0f %9.1f %9.1f\n", load.name, who, r->PerSecond(),
                        r->Percentile(0.99), r->Percentile(1.0));
        }
        std::printf("%-30s ratio %.2f\n", load.name, ours.PerSecond() / base.PerSecond());
    }
    for (const bool renewing : {false, true}) {
        const char* name = renewing ? "11 beside 1,100 reopened" : "11 beside 1,100 idle";
        const unsigned base = LockOut(echoPort, renewing);
        const ServerThread server({});
        std::printf("%-30s %-14s %10u/11\n", name, "ktutils serve", LockOut(server.port, renewing));
        std::printf("%-30s %-14s %10u/11\n", name, "poll echo", base);
    }
    stopEcho = true;
    echo.join();
    return 0;
}
