#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/capture/capture_reader.h"
#include "tools/net/message_connection.h"
#include "tools/capture/pcapng_writer.h"

// Records one TCP connection's exchange into a capture, as a loopback
// capture would show it: a handshake when it starts, one segment for every
// send and every receive with the sequence numbers running on, and a FIN
// from each side when it ends. The TCP checksums are left zero (Wireshark
// does not check them by default); a capture taken with tcpdump is the
// reference for what the kernel really sent.
namespace ktutils::tool {

class ConnectionRecorder {
public:
    // `fd` is the connected socket; `isClient` says which end this program is.
    ConnectionRecorder(PcapngWriter& writer, int fd, bool isClient);
    // A recorder of `link`, set as its tap; `link` must not outlive it.
    static std::unique_ptr<ConnectionRecorder> Attach(PcapngWriter& writer,
                                                      MessageConnection& link, bool isClient);
    ~ConnectionRecorder();  // the FINs
    ConnectionRecorder(const ConnectionRecorder&) = delete;
    ConnectionRecorder& operator=(const ConnectionRecorder&) = delete;

    void Sent(const uint8_t* bytes, std::size_t size) { Data(local_, bytes, size); }
    void Received(const uint8_t* bytes, std::size_t size) { Data(1 - local_, bytes, size); }

private:
    // Side 0 is the client, side 1 the server.
    void Data(int side, const uint8_t* bytes, std::size_t size);
    void Segment(int side, uint8_t flags, const uint8_t* payload, std::size_t size);

    PcapngWriter& writer_;
    int local_;
    bool known_ = false;  // both addresses were read from the socket
    TcpEndpoint ends_[2];
    uint32_t next_[2] = {0x1000, 0x8000};  // initial sequence numbers, as any others
};

}  // namespace ktutils::tool
