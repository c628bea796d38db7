// The link, IP and TCP headers of one captured packet. Every length is
// checked against the bytes present before it is used: a capture file is
// untrusted input.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/capture/capture_reader.h"

namespace ktutils::tool {
namespace {

// Link-layer type numbers (DLT_ values as libpcap reports them); spelled out
// so that this file builds without libpcap.
constexpr int kDltNull = 0;        // 4-byte address family, host byte order
constexpr int kDltEthernet = 1;
constexpr int kDltRaw = 12;        // libpcap's DLT_RAW on Linux
constexpr int kDltRawAlt = 14;     // DLT_RAW on OpenBSD-derived libpcaps
constexpr int kDltLoop = 108;      // as DLT_NULL, network byte order
constexpr int kDltLinuxSll = 113;
constexpr int kDltIpv4 = 228;
constexpr int kDltIpv6 = 229;
constexpr int kDltLinuxSll2 = 276;
constexpr int kLinkTypeRaw = 101;  // LINKTYPE_RAW, should libpcap not map it

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint8_t kProtoTcp = 6;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// A small snap length (tcpdump -s 70) cuts a SYN inside its options: the
// ports, sequence number and flags in the first 14 bytes are enough, and
// the payload then counts as not captured.
bool ParseTcp(const uint8_t* p, std::size_t size, std::size_t wireSize, TcpSegment& s) {
    if (size < 14) return false;
    const std::size_t header = static_cast<std::size_t>(p[12] >> 4) * 4;
    if (header < 20 || header > wireSize) return false;
    s.source.port = Be16(p);
    s.destination.port = Be16(p + 2);
    s.seq = Be32(p + 4);
    s.fin = (p[13] & 0x01) != 0;
    s.syn = (p[13] & 0x02) != 0;
    s.rst = (p[13] & 0x04) != 0;
    s.ack = (p[13] & 0x10) != 0;
    s.payload = p + std::min(header, size);
    s.captured = size > header ? size - header : 0;
    s.length = wireSize - header;
    return true;
}

// `size` is what the file holds; the IP header's own length tells what the
// wire carried, and Ethernet padding beyond it is dropped.
bool ParseIpv4(const uint8_t* p, std::size_t size, TcpSegment& s) {
    if (size < 20 || p[0] >> 4 != 4) return false;
    const std::size_t header = static_cast<std::size_t>(p[0] & 15u) * 4;
    const std::size_t total = Be16(p + 2);
    if (header < 20 || header > size || total < header) return false;
    // Only whole datagrams: a fragment's bytes are not a TCP segment.
    if ((Be16(p + 6) & 0x3FFF) != 0 || p[9] != kProtoTcp) return false;
    s.source = {};
    s.destination = {};
    std::memcpy(s.source.address.data(), p + 12, 4);
    std::memcpy(s.destination.address.data(), p + 16, 4);
    const std::size_t present = total < size ? total : size;
    return ParseTcp(p + header, present - header, total - header, s);
}

bool ParseIpv6(const uint8_t* p, std::size_t size, TcpSegment& s) {
    if (size < 40 || p[0] >> 4 != 6) return false;
    std::size_t total = 40 + std::size_t{Be16(p + 4)};
    s.source = {};
    s.destination = {};
    s.source.ipv6 = s.destination.ipv6 = true;
    std::memcpy(s.source.address.data(), p + 8, 16);
    std::memcpy(s.destination.address.data(), p + 24, 16);
    uint8_t next = p[6];
    std::size_t at = 40;
    // Hop-by-hop, routing and destination options carry their own length;
    // anything else (a fragment header included) ends the walk.
    while (next == 0 || next == 43 || next == 60) {
        if (at + 8 > size) return false;
        next = p[at];
        at += (std::size_t{p[at + 1]} + 1) * 8;
    }
    if (next != kProtoTcp || at > size || at > total) return false;
    const std::size_t present = total < size ? total : size;
    return ParseTcp(p + at, present - at, total - at, s);
}

bool ParseByEtherType(uint16_t type, const uint8_t* p, std::size_t size, TcpSegment& s) {
    if (type == kEtherIpv4) return ParseIpv4(p, size, s);
    if (type == kEtherIpv6) return ParseIpv6(p, size, s);
    return false;
}

// DLT_NULL/DLT_LOOP carry the sender's AF_ value; AF_INET6 differs between
// systems (10 Linux, 24 NetBSD, 28 FreeBSD, 30 macOS), so the IP version
// nibble decides instead.
bool ParseByVersion(const uint8_t* p, std::size_t size, TcpSegment& s) {
    if (size == 0) return false;
    return p[0] >> 4 == 4 ? ParseIpv4(p, size, s) : ParseIpv6(p, size, s);
}

}  // namespace

bool TcpEndpoint::operator<(const TcpEndpoint& other) const {
    if (ipv6 != other.ipv6) return ipv6 < other.ipv6;
    if (address != other.address) return address < other.address;
    return port < other.port;
}

bool TcpEndpoint::operator==(const TcpEndpoint& other) const {
    return ipv6 == other.ipv6 && address == other.address && port == other.port;
}

std::string TcpEndpoint::ToString() const {
    char text[64];
    if (!ipv6) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address[0], address[1], address[2],
                      address[3], port);
        return text;
    }
    // Plain groups, no :: compression: unambiguous and enough for reading.
    std::string result = "[";
    for (int i = 0; i < 16; i += 2) {
        std::snprintf(text, sizeof text, "%s%x", i == 0 ? "" : ":", Be16(address.data() + i));
        result += text;
    }
    return result + "]:" + std::to_string(port);
}

bool ParseTcpPacket(int linkType, const uint8_t* p, std::size_t size, TcpSegment& s) {
    switch (linkType) {
    case kDltEthernet: {
        if (size < 14) return false;
        std::size_t at = 12;
        uint16_t type = Be16(p + at);
        while ((type == kEtherVlan || type == kEtherQinQ) && at + 6 <= size) {
            at += 4;
            type = Be16(p + at);
        }
        at += 2;
        return at <= size && ParseByEtherType(type, p + at, size - at, s);
    }
    case kDltLinuxSll:
        return size >= 16 && ParseByEtherType(Be16(p + 14), p + 16, size - 16, s);
    case kDltLinuxSll2:
        return size >= 20 && ParseByEtherType(Be16(p), p + 20, size - 20, s);
    case kDltRaw:
    case kDltRawAlt:
    case kLinkTypeRaw:
        return ParseByVersion(p, size, s);
    case kDltIpv4:
        return ParseIpv4(p, size, s);
    case kDltIpv6:
        return ParseIpv6(p, size, s);
    case kDltNull:
    case kDltLoop:
        return size >= 4 && ParseByVersion(p + 4, size - 4, s);
    default:
        return false;
    }
}

bool IsLinkTypeRead(int linkType) {
    for (const int read : {kDltNull, kDltEthernet, kDltRaw, kDltRawAlt, kDltLoop, kDltLinuxSll, kDltIpv4,
                           kDltIpv6, kDltLinuxSll2, kLinkTypeRaw}) {
        if (linkType == read) return true;
    }
    return false;
}

bool IsCaptureFile(const unsigned char* first, std::size_t size) {
    if (size < 4) return false;
    // pcap (microsecond and nanosecond, either byte order) and the pcapng
    // section header block. Read as a frame header, each would declare a
    // payload far above the 64 KiB limit, so no valid stream starts so.
    static const unsigned char magics[][4] = {{0xa1, 0xb2, 0xc3, 0xd4}, {0xd4, 0xc3, 0xb2, 0xa1},
                                              {0xa1, 0xb2, 0x3c, 0x4d}, {0x4d, 0x3c, 0xb2, 0xa1},
                                              {0x0a, 0x0d, 0x0d, 0x0a}};
    for (const auto& magic : magics) {
        if (std::memcmp(first, magic, 4) == 0) return true;
    }
    return false;
}

}  // namespace ktutils::tool
