// Handshakes per second and worst handshake latency of the reference server
// (`ktutils serve --quiet`, run in this process on its own thread) against a
// trivial poll echo server given the same traffic, in the same run, on
// loopback. A handshake is one connection: LookForServer, BeginChallenge, a
// connect request carrying the challenge, Shutdown, each awaiting its answer,
// then close; the echo server sends every frame straight back.
//
// Usage: ktutils-handshake-bench [SECONDS]   (default 3 per server and load)
// Loads: 64 busy clients; 4 busy clients beside 200 idle connections. The two
// servers take turns in rounds of SECONDS/6, so that a machine whose load
// varies (other work) weighs on both alike.
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
    unsigned long done = 0;
    double seconds = 0;
    double maxMs = 0;

    void Add(const Result& other) {
        done += other.done;
        seconds += other.seconds;
        maxMs = std::max(maxMs, other.maxMs);
    }
    double PerSecond() const { return seconds > 0 ? done / seconds : 0; }
};

// Runs `busy` clients handshaking back to back for `duration`, with `idle`
// connections held open and silent beside them.
Result Measure(uint16_t port, unsigned busy, unsigned idle, std::chrono::milliseconds duration) {
    std::vector<int> silent;
    for (unsigned i = 0; i < idle; ++i) silent.push_back(ConnectTo(port));
    const int epoll = epoll_create1(0);
    std::vector<Client> clients(busy);
    unsigned long done = 0;
    double maxMs = 0;

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
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - c.started).count();
            maxMs = std::max(maxMs, ms);
            ++done;
            epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
            close(c.fd);
            begin(c);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (Client& c : clients) close(c.fd);
    for (int fd : silent) close(fd);
    close(epoll);
    return {done, seconds, maxMs};
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

}  // namespace

int main(int argc, char** argv) {
    constexpr int kRounds = 6;
    const std::chrono::milliseconds round(1000 * (argc > 1 ? std::atoi(argv[1]) : 3) / kRounds);

    ktutils::tool::ServeOptions options;
    options.settings.version = GetKTUVersion();
    options.settings.capacity = 1000000;
    options.quiet = true;
    std::promise<uint16_t> listening;
    bool told = false;
    MessagePrinter printer(
        [&](std::string line) {
            const auto at = line.find("\"port\":");
            if (!told && at != std::string::npos) {
                told = true;
                listening.set_value(static_cast<uint16_t>(std::atoi(line.c_str() + at + 7)));
            }
        },
        MessagePrinter::Style::Json);
    std::thread server([&] { ktutils::tool::RunServer(options, printer); });
    const uint16_t serverPort = listening.get_future().get();

    int echoListener = -1;
    const uint16_t echoPort = ListenEcho(echoListener);
    std::atomic<bool> stopEcho{false};
    std::thread echo(EchoServer, echoListener, std::cref(stopEcho));

    std::printf("%-22s %-14s %14s %14s\n", "load", "server", "handshakes/s", "max latency");
    const struct {
        const char* name;
        unsigned busy, idle;
    } loads[] = {{"64 busy", 64, 0}, {"4 busy + 200 idle", 4, 200}};
    for (const auto& load : loads) {
        Result ours, base;
        for (int i = 0; i < kRounds; ++i) {
            ours.Add(Measure(serverPort, load.busy, load.idle, round));
            base.Add(Measure(echoPort, load.busy, load.idle, round));
        }
        std::printf("%-22s %-14s %14.0f %11.1f ms\n", load.name, "ktutils serve",
                    ours.PerSecond(), ours.maxMs);
        std::printf("%-22s %-14s %14.0f %11.1f ms\n", load.name, "poll echo", base.PerSecond(),
                    base.maxMs);
        std::printf("%-22s ratio %.2f\n", load.name, ours.PerSecond() / base.PerSecond());
    }
    ktutils::tool::RequestServerStop();
    stopEcho = true;
    server.join();
    echo.join();
    return 0;
}
