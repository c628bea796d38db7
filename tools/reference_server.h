#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/admission.h"
#include "tools/message_printer.h"

namespace ktutils::tool {

struct ServeOptions {
    std::string host = "127.0.0.1";  // loopback unless asked otherwise
    uint16_t port = 0;               // 0: the system picks one; it is printed
    ServerSettings settings;
    unsigned clients = 0;  // stop after this many connections have ended; 0: never
    std::chrono::milliseconds idleTimeout{30000};  // drop a client silent this long
};

// Serves on one thread with poll until stopped (RequestServerStop, or the
// count of clients reached). The first line printed tells where it listens.
// Returns the exit status: 0 when stopped, kExitSystem when it cannot listen.
int RunServer(const ServeOptions& options, MessagePrinter& printer);

// Safe in a signal handler: the server ends at its next turn.
void RequestServerStop() noexcept;

}  // namespace ktutils::tool
