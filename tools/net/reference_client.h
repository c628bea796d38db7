#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ktutils/protocol/ktu_records.h"
#include "tools/net/endpoint.h"
#include "tools/text/message_printer.h"

namespace ktutils::tool {

class PcapngWriter;

struct ConnectOptions {
    PcapngWriter* capture = nullptr;  // the exchange is recorded here when set
    Endpoint server;
    uint16_t form = 21;  // the connect request's type: 21, 22, 27, 28 or 29
    KTUVersion version;
    std::vector<KTUGuidVersion> modules;
    std::string name = "ktutils";  // string1 of every form that has one
    std::string password;          // string2 (21, 22) or block2 (27, 28)
    unsigned pings = 1;            // Ping/KeepAlive rounds once connected
    std::chrono::milliseconds interval{0};     // pause before each ping
    std::chrono::milliseconds timeout{5000};  // for each answer awaited
};

// The connect request forms that a client can choose.
bool IsClientForm(uint16_t form);

// Discovery, challenge, the connect request, pings and shutdown, one step at
// a time, each message printed. Returns kExitOk when the server accepted,
// kExitNegative when it refused, kExitSystem when the connection failed or
// the server broke the protocol; the reason goes to standard error.
int RunClient(const ConnectOptions& options, MessagePrinter& printer);

}  // namespace ktutils::tool
