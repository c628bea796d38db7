#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Reads pcap and pcapng files and hands out the TCP segments in them, one
// per packet, in file order. Packets that are not TCP over IPv4 or IPv6
// (ARP, UDP, IP fragments, unknown link types) are skipped.
namespace ktutils::tool {

struct TcpEndpoint {
    std::array<uint8_t, 16> address{};  // IPv4 in the first 4 bytes
    bool ipv6 = false;
    uint16_t port = 0;

    bool operator<(const TcpEndpoint& other) const;
    bool operator==(const TcpEndpoint& other) const;
    std::string ToString() const;  // 127.0.0.1:7000, [::1]:7000
};

struct TcpSegment {
    int64_t seconds = 0;
    uint32_t microseconds = 0;
    TcpEndpoint source;
    TcpEndpoint destination;
    uint32_t seq = 0;
    bool syn = false;
    bool ack = false;
    bool fin = false;
    bool rst = false;
    const uint8_t* payload = nullptr;  // valid until the next Next()
    std::size_t captured = 0;          // payload bytes in the file
    std::size_t length = 0;            // payload bytes on the wire (more when the snap length cut it)
};

// Takes one packet of link type `linkType` (a DLT_ value) apart; false when
// it is not TCP over IPv4/IPv6 with at least the ports, sequence number and
// flags captured (a snap length may cut the rest of the header).
bool ParseTcpPacket(int linkType, const uint8_t* data, std::size_t size, TcpSegment& segment);

// Whether ParseTcpPacket reads packets of this link type at all.
bool IsLinkTypeRead(int linkType);

// True when the first four bytes of a file are a pcap or pcapng magic number.
bool IsCaptureFile(const unsigned char* first, std::size_t size);

class CaptureReader {
public:
    virtual ~CaptureReader() = default;
    // Reads the capture from `file`, which it then owns (also when it
    // fails). Null with `error` set when it cannot be read as a capture,
    // or libpcap cannot be loaded.
    static std::unique_ptr<CaptureReader> Open(std::FILE* file, std::string& error);
    // The capture's link type (a DLT_ value).
    virtual int LinkType() const = 0;
    // The next TCP segment; false at the end of the file or on a read error
    // (then `Error()` says which).
    virtual bool Next(TcpSegment& segment) = 0;
    virtual std::string Error() const = 0;
};

}  // namespace ktutils::tool
