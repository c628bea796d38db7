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
    // Drop a connection not logged in this long after it was accepted.
    std::chrono::milliseconds loginTimeout{10000};
    // Connections not logged in, held at most; more wait in the listen backlog.
    std::size_t maxPending = 1024;
    bool quiet = false;  // print no message and no per-connection line
};

// Answers queued for a client that does not take them, in bytes, before the
// server stops reading its requests; held past the idle timeout, the client
// is dropped.
constexpr std::size_t kUnsentLimit = 1024 * 1024;
// How long accepting pauses when the process has no descriptor left.
constexpr std::chrono::milliseconds kAcceptPause{100};

// Serves on one thread, driven by readiness (epoll on Linux, else poll),
// until stopped (RequestServerStop, or the count of clients reached). The
// first line printed tells where it listens. Returns the exit status: 0 when
// stopped, kExitSystem when it cannot listen.
int RunServer(const ServeOptions& options, MessagePrinter& printer);

// Safe in a signal handler: a running server wakes and ends at once.
void RequestServerStop() noexcept;

}  // namespace ktutils::tool
