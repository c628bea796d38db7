#pragma once

#include <cstdio>
#include <string>

#include "tools/text/time_text.h"

// ktutils dump on a pcap/pcapng file: every TCP connection that carries
// this protocol, both directions, one line per message in capture order.
//
// Text:  <time> #<connection> <client>server|server>client> @<offset> <message as the stream dump>
//        1700000000.000123 #1 client>server @0 KTMESSAGETYPE2_PING
// JSON:  the stream dump's object with "time", "connection" and "dir" first.
//
// Besides messages: "connection" (its endpoints, when first shown), "gap"
// (bytes missing from the capture), "truncated" (the capture ends inside a
// message) and "malformed" (a frame the buffer refuses) lines. After a gap
// the direction is decoded again only where the next frame's start is
// known: when the gap lies inside a message whose header was seen, the
// message is reported lost and decoding resumes after it; otherwise the
// rest of that direction is left undecoded.
//
// Connections are numbered from 1 in order of first appearance, counting
// every TCP connection (Wireshark's tcp.stream plus one).
namespace ktutils::tool {

struct CaptureDumpOptions {
    std::string name;  // the capture, quoted for messages
    bool json = false;
    bool showSecrets = false;
    TimeForm time = TimeForm::Epoch;
    int port = -1;           // only connections with this port at either end
    unsigned connection = 0;  // only this connection
};

// Dumps the capture read from `file`, which it takes over. Returns the exit
// status: 1 when a shown connection had a gap, a truncated, malformed or
// damaged message, and when nothing is shown (a link type that carries no
// TCP that is read, no connection of the protocol or none that matches,
// packets cut by the snap length before a whole header), which it says; 3
// when the capture cannot be read.
int DumpCapture(const CaptureDumpOptions& options, std::FILE* file);

}  // namespace ktutils::tool
