#include "tools/capture/connection_recorder.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

namespace ktutils::tool {
namespace {

constexpr uint8_t kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10;
// IPv4's total length is 16 bits: a larger send becomes several segments.
constexpr std::size_t kMaxSegment = 65000;

bool Endpoint(const sockaddr_storage& address, TcpEndpoint& end) {
    end = {};
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        std::memcpy(end.address.data(), &in.sin_addr, 4);
        end.port = ntohs(in.sin_port);
        return true;
    }
    if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::memcpy(end.address.data(), &in6.sin6_addr, 16);
        end.ipv6 = true;
        end.port = ntohs(in6.sin6_port);
        return true;
    }
    return false;
}

void Be16(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

void Be32(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    Be16(out, at, value >> 16);
    Be16(out, at + 2, value & 0xFFFF);
}

uint16_t Ipv4Checksum(const uint8_t* header) {
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) sum += static_cast<uint32_t>(header[i] << 8 | header[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

}  // namespace

ConnectionRecorder::ConnectionRecorder(PcapngWriter& writer, int fd, bool isClient)
    : writer_(writer), local_(isClient ? 0 : 1) {
    sockaddr_storage local{}, peer{};
    socklen_t localSize = sizeof local, peerSize = sizeof peer;
    known_ = getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
             getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0 &&
             Endpoint(local, ends_[local_]) && Endpoint(peer, ends_[1 - local_]) &&
             ends_[0].ipv6 == ends_[1].ipv6;
    if (!known_) return;
    Segment(0, kSyn, nullptr, 0);
    Segment(1, kSyn | kAck, nullptr, 0);
    Segment(0, kAck, nullptr, 0);
}

std::unique_ptr<ConnectionRecorder> ConnectionRecorder::Attach(PcapngWriter& writer,
                                                             MessageConnection& link,
                                                             bool isClient) {
    auto recorder = std::make_unique<ConnectionRecorder>(writer, link.Socket().fd(), isClient);
    ConnectionRecorder* target = recorder.get();
    link.SetTap([target](bool sent, const uint8_t* bytes, std::size_t size) {
        if (sent) {
            target->Sent(bytes, size);
        } else {
            target->Received(bytes, size);
        }
    });
    return recorder;
}

ConnectionRecorder::~ConnectionRecorder() {
    if (!known_) return;
    Segment(local_, kFin | kAck, nullptr, 0);
    Segment(1 - local_, kFin | kAck, nullptr, 0);
}

void ConnectionRecorder::Data(int side, const uint8_t* bytes, std::size_t size) {
    if (!known_) return;
    for (std::size_t at = 0; at < size; at += kMaxSegment) {
        Segment(side, kPsh | kAck, bytes + at, size - at < kMaxSegment ? size - at : kMaxSegment);
    }
}

void ConnectionRecorder::Segment(int side, uint8_t flags, const uint8_t* payload,
                                 std::size_t size) {
    const TcpEndpoint& from = ends_[side];
    const TcpEndpoint& to = ends_[1 - side];
    const std::size_t ip = from.ipv6 ? 40 : 20;
    std::vector<uint8_t> packet(ip + 20 + size);
    if (from.ipv6) {
        packet[0] = 0x60;
        Be16(packet, 4, static_cast<uint32_t>(20 + size));
        packet[6] = 6;  // TCP
        packet[7] = 64;
        std::memcpy(&packet[8], from.address.data(), 16);
        std::memcpy(&packet[24], to.address.data(), 16);
    } else {
        packet[0] = 0x45;
        Be16(packet, 2, static_cast<uint32_t>(packet.size()));
        packet[6] = 0x40;  // don't fragment
        packet[8] = 64;
        packet[9] = 6;
        std::memcpy(&packet[12], from.address.data(), 4);
        std::memcpy(&packet[16], to.address.data(), 4);
        Be16(packet, 10, Ipv4Checksum(packet.data()));
    }
    uint8_t* tcp = &packet[ip];
    Be16(packet, ip, from.port);
    Be16(packet, ip + 2, to.port);
    // A SYN's sequence number is the one before the first byte.
    Be32(packet, ip + 4, (flags & kSyn) != 0 ? next_[side] - 1 : next_[side]);
    Be32(packet, ip + 8, (flags & kAck) != 0 ? next_[1 - side] : 0);
    tcp[12] = 5 << 4;
    tcp[13] = flags;
    Be16(packet, ip + 14, 65535);
    if (size != 0) std::memcpy(tcp + 20, payload, size);
    next_[side] += static_cast<uint32_t>(size) + ((flags & kFin) != 0 ? 1 : 0);
    writer_.Write(std::chrono::system_clock::now(), packet.data(), packet.size());
}

}  // namespace ktutils::tool
