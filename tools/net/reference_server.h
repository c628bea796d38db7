#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/net/admission.h"
#include "tools/text/message_printer.h"

namespace ktutils::tool {

class PcapngWriter;

struct ServeOptions {
    PcapngWriter* capture = nullptr;  // every connection is recorded here when set
    std::string host = "127.0.0.1";  // loopback unless asked otherwise
    uint16_t port = 0;               // 0: the system picks one; it is printed
    ServerSettings settings;
    unsigned clients = 0;  // stop after this many connections have ended; 0: never
    std::chrono::milliseconds idleTimeout{30000};  // drop a client silent this long
    // Drop a connection not logged in this long after it was accepted:
    // shorter than the reference client's 5 s wait for an answer, so that
    // a client kept waiting by idle connections is still served.
    std::chrono::milliseconds loginTimeout{3000};
    // Connections not logged in, held at most; a newcomer past that takes
    // the place of one of them (PendingPlaces says which).
    std::size_t maxPending = 1024;
    // Answers queued for all clients together, in bytes at most; past it
    // the clients holding the most are dropped first.
    std::size_t maxMemory = 64 * 1024 * 1024;
    bool quiet = false;  // print no message and no per-connection line
};

// Answers queued for a client that does not take them, in bytes, before the
// server stops reading its requests; held past the idle timeout without the
// client taking any, the client is dropped.
constexpr std::size_t kUnsentLimit = 1024 * 1024;
// One client's share of a turn: requests answered, and bytes of answers
// queued, at most. The work of a turn is bounded by its answers, not by the
// bytes of the requests, so a client asking for large answers cannot hold
// up the others; what it asked for more waits for its next turn.
constexpr unsigned kTurnRequests = 64;
constexpr std::size_t kTurnAnswerBytes = 64 * 1024;
// How long accepting pauses when the process has no descriptor left and no
// connection not logged in could give its own up.
constexpr std::chrono::milliseconds kAcceptPause{100};

// Serves on one thread, driven by readiness (epoll on Linux, else poll),
// until stopped (RequestServerStop, or the count of clients reached). The
// first line printed tells where it listens. Returns the exit status: 0 when
// stopped, kExitUsage when the settings cannot work (a ServerInfo over the
// payload limit), kExitSystem when it cannot listen.
int RunServer(const ServeOptions& options, MessagePrinter& printer);

// Safe in a signal handler: a running server wakes and ends at once.
void RequestServerStop() noexcept;

}  // namespace ktutils::tool
