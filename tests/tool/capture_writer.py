"""Writes small pcap/pcapng captures of one or more TCP connections for the
capture tests, with the link types `ktutils dump` reads. Checksums are left
zero: neither the tool nor Wireshark (by default) checks them."""
import socket
import struct

SYN, ACK, PSH = 0x02, 0x10, 0x08
IPV4, IPV6 = 0x0800, 0x86DD


def _ip(src, dst, protocol_bytes, v6):
    if v6:
        return (struct.pack("!IHBB", 6 << 28, len(protocol_bytes), 6, 64) +
                socket.inet_pton(socket.AF_INET6, src) + socket.inet_pton(socket.AF_INET6, dst) +
                protocol_bytes)
    return struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(protocol_bytes), 0, 0x4000, 64, 6, 0,
                       socket.inet_aton(src), socket.inet_aton(dst)) + protocol_bytes


# Link type number and the header put before an IP packet.
LINKS = {
    "ether": (1, lambda et: b"\x02" * 12 + struct.pack("!H", et)),
    "sll": (113, lambda et: struct.pack("!HHH8sH", 0, 772, 0, b"", et)),
    "sll2": (276, lambda et: struct.pack("!HHIHBB8s", et, 0, 1, 772, 0, 0, b"")),
    "raw": (101, lambda et: b""),
    "null": (0, lambda et: struct.pack("=I", 24 if et == IPV6 else 2)),
}


class Session:
    """One TCP connection; each call adds one packet, 1 ms after the last."""

    def __init__(self, v6=False, client_port=40000, server_port=7000, isn=(1000, 0xFFFFFF00)):
        self.v6 = v6
        self.addr = ("::1", "::1") if v6 else ("127.0.0.1", "127.0.0.2")
        self.ports = (client_port, server_port)
        self.isn = list(isn)
        self.next = [isn[0] + 1, isn[1] + 1]
        self.packets = []

    def packet(self, direction, seq, flags, payload=b"", snap=None):
        s, d = direction, 1 - direction
        tcp = struct.pack("!HHIIBBHHH", self.ports[s], self.ports[d], seq & 0xFFFFFFFF,
                          self.next[d] & 0xFFFFFFFF if flags & ACK else 0,
                          5 << 4, flags, 65535, 0, 0) + payload
        self.packets.append((_ip(self.addr[s], self.addr[d], tcp, self.v6), snap))

    def handshake(self):
        self.packet(0, self.isn[0], SYN)
        self.packet(1, self.isn[1], SYN | ACK)
        self.packet(0, self.next[0], ACK)
        return self

    def at(self, direction, offset, data, snap=None):
        """A segment carrying `data` at stream `offset` (retransmissions, reordering)."""
        self.packet(direction, self.isn[direction] + 1 + offset, ACK | PSH, data, snap)

    def send(self, direction, data, cuts=()):
        """`data` as the next bytes of `direction`, split at the offsets in `cuts`."""
        start = self.next[direction] - self.isn[direction] - 1
        bounds = [0, *cuts, len(data)]
        for a, b in zip(bounds, bounds[1:]):
            self.at(direction, start + a, data[a:b])
        self.next[direction] += len(data)


def capture(packets, link="ether", pcapng=True, start=1700000000):
    """The file bytes for `packets`: (ip_packet, snap) pairs, or Sessions' packets."""
    linktype, header = LINKS[link]
    records = []
    for i, (ip, snap) in enumerate(packets):
        frame = header(IPV6 if ip[0] >> 4 == 6 else IPV4) + ip
        cut = frame if snap is None else frame[:len(header(IPV4)) + snap]
        records.append((start * 1000000 + i * 1000, cut, len(frame)))
    if not pcapng:
        out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype)
        for us, data, length in records:
            out += struct.pack("<IIII", us // 1000000, us % 1000000, len(data), length) + data
        return out
    out = struct.pack("<IIIHHqI", 0x0A0D0D0A, 28, 0x1A2B3C4D, 1, 0, -1, 28)
    out += struct.pack("<IIHHII", 1, 20, linktype, 0, 65535, 20)
    for us, data, length in records:
        padded = data + b"\0" * (-len(data) % 4)
        size = 32 + len(padded)
        out += struct.pack("<IIIIIII", 6, size, 0, us >> 32, us & 0xFFFFFFFF, len(data), length)
        out += padded + struct.pack("<I", size)
    return out
