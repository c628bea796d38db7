"""ktutils dump on captures: both directions of every connection of this
protocol, in capture order, put back together across split, retransmitted
and reordered segments, with gaps and truncation reported and nothing
guessed. The captures are written here by capture_writer."""
import json
import struct
import unittest

from capture_writer import Session, capture
from tool_harness import FileTestCase, Server, connect, golden_frames, run

F = golden_frames()
PING, CHALLENGE, CONNECT = F["WritePing2"], F["WriteChallenge2"], F["WriteChallengeConnect2"]
CONNECTED = F["WriteConnected2"]


def split(s):
    s.send(0, CONNECT, cuts=(3, 12))
    s.send(1, CONNECTED)


def retransmitted(s):
    s.at(0, 0, CONNECT[:20])
    s.at(0, 0, CONNECT[:20])
    s.at(0, 10, CONNECT[10:])
    s.next[0] += len(CONNECT)
    s.send(0, PING)


def reordered(s):
    s.at(0, 20, CONNECT[20:] + PING)
    s.send(1, CHALLENGE)
    s.at(0, 0, CONNECT[:20])


def truncated(s):
    s.send(0, PING)
    s.send(0, CONNECT[:-3])


def gap_inside_a_message(s):
    s.at(0, 0, CONNECT[:12])
    s.at(0, 20, CONNECT[20:] + PING)


def gap_over_a_header(s):
    s.send(0, PING)
    s.at(0, 12, PING + CHALLENGE)


def snap_cut(s):
    s.packet(0, s.next[0], 0x18, CONNECT, snap=20 + 20 + 10)  # IP, TCP, 10 bytes
    s.next[0] += len(CONNECT)
    s.send(0, PING)


def wrapping_sequence_numbers(s):
    s.send(1, PING * 40 + CHALLENGE, cuts=(250, 262))


def mid_stream(s):  # no handshake: where a frame starts is unknown
    s.send(0, CONNECT)


def not_this_protocol(s):
    s.send(0, b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")


M = "KTMESSAGETYPE2_"
# name: (what the session carries, handshake, link, IPv6, dump arguments,
#        expected (connection, direction, offset, message name or event), exit status)
CASES = {
    "frame_split_across_three_segments": (split, True, "ether", False, (),
        [(1, "c", 0, M + "CHALLENGECONNECT"), (1, "s", 0, M + "CONNECTED")], 0),
    "retransmitted_bytes_are_shown_once": (retransmitted, True, "sll", False, (),
        [(1, "c", 0, M + "CHALLENGECONNECT"), (1, "c", len(CONNECT), M + "PING")], 0),
    "out_of_order_segment_waits_for_the_bytes_before_it": (reordered, True, "raw", True, (),
        [(1, "s", 0, M + "CHALLENGE"), (1, "c", 0, M + "CHALLENGECONNECT"),
         (1, "c", len(CONNECT), M + "PING")], 0),
    "truncated_last_message_is_reported_not_decoded": (truncated, True, "sll2", True, (),
        [(1, "c", 0, M + "PING"), (1, "c", 8, "truncated")], 1),
    "gap_inside_a_message_loses_it_and_resumes_after_it": (gap_inside_a_message, True, "null",
        False, (), [(1, "c", 12, "gap"), (1, "c", len(CONNECT), M + "PING")], 1),
    "gap_over_a_header_stops_the_direction": (gap_over_a_header, True, "ether", True, (),
        [(1, "c", 0, M + "PING"), (1, "c", 8, "gap")], 1),
    "bytes_cut_by_the_snap_length_are_a_gap": (snap_cut, True, "ether", False, (),
        [(1, "c", 10, "gap"), (1, "c", len(CONNECT), M + "PING")], 1),
    "sequence_numbers_wrap_around": (wrapping_sequence_numbers, True, "ether", False, (),
        [(1, "s", 8 * i, M + "PING") for i in range(40)] + [(1, "s", 320, M + "CHALLENGE")], 0),
    "a_stream_seen_from_its_middle_is_not_framed": (mid_stream, False, "ether", False,
        ("--port", 7000), [(1, "c", 0, "unframed")], 1),
    "without_a_handshake_nothing_is_shown_by_default": (mid_stream, False, "ether", False, (),
        [], 0),
    "other_protocols_are_left_out_by_default": (not_this_protocol, True, "ether", False, (),
        [], 0),
    "port_shows_a_connection_whatever_it_carries": (not_this_protocol, True, "ether", False,
        ("--port", 7000), [(1, "c", 0, "malformed")], 1),
}


HANDSHAKE = [("c", "LOOKFORSERVER"), ("s", "SERVERINFO"), ("c", "BEGINCHALLENGE"),
             ("s", "CHALLENGE"), ("c", "CHALLENGECONNECT"), ("s", "CONNECTED"), ("c", "PING"),
             ("s", "KEEPALIVE"), ("c", "SHUTDOWN"), ("s", "SHUTDOWN")]


def record_session(test):
    """serve --capture and connect --capture of one demo session: (port, files)."""
    files = test.path("server.pcapng"), test.path("client.pcapng")
    with Server("--clients", 1, "--capture", files[0]) as server:
        result = connect(server.address, "--capture", files[1])
        test.assertEqual(result.returncode, 0, result.stderr)
        server.wait_for("closed|ended|shut")
    return server.port, files


def make_capture(case, pcapng=True):
    build, handshake, link, v6 = CASES[case][:4]
    session = Session(v6=v6)
    if handshake:
        session.handshake()
    build(session)
    return capture(session.packets, link=link, pcapng=pcapng)


def summary(objects):
    return [(o["connection"], o["dir"][0], o["offset"], o.get("name", o.get("event")))
            for o in objects if "dir" in o]


class CaptureDump(FileTestCase):
    def dump(self, data, *args):
        path = data if isinstance(data, str) else self.write("c.pcapng", data)
        result = run("dump", path, "--json", *args)
        return result, [json.loads(line) for line in result.stdout.splitlines()]

    def test_cases(self):
        for case, (*_, args, expected, status) in CASES.items():
            for pcapng in (True, False):
                with self.subTest(case, pcapng=pcapng):
                    result, objects = self.dump(make_capture(case, pcapng), *args)
                    self.assertEqual(summary(objects), expected, result.stderr)
                    self.assertEqual(result.returncode, status, result.stderr)

    def test_every_message_decodes_as_in_the_stream_dump(self):
        stream = b"".join(F.values())
        s = Session().handshake()
        s.send(0, stream, cuts=range(7, len(stream), 61))
        _, objects = self.dump(capture(s.packets))
        reference = [json.loads(line) for line in run("dump", self.write("s", stream), "--json")
                     .stdout.splitlines()]
        self.assertEqual([{k: v for k, v in o.items() if k not in ("time", "connection", "dir")}
                          for o in objects if "dir" in o], reference)

    def test_connections_are_numbered_and_selected(self):
        a, b = Session(client_port=40001).handshake(), Session(client_port=40002).handshake()
        a.send(0, PING)
        b.send(1, CHALLENGE)
        both = capture(a.packets + b.packets)
        _, objects = self.dump(both)
        self.assertEqual([(o["connection"], o.get("client")) for o in objects if "client" in o],
                         [(1, "127.0.0.1:40001"), (2, "127.0.0.1:40002")])
        _, objects = self.dump(both, "--connection", 2)
        self.assertEqual(summary(objects), [(2, "s", 0, M + "CHALLENGE")])

    def test_text_lines_carry_time_connection_direction_and_offset(self):
        result = run("dump", self.write("t.pcap", make_capture("truncated_last_message_is_reported_not_decoded")))
        self.assertEqual(result.stdout.splitlines()[1:], [
            "1700000000.003000 #1 client>server @0 KTMESSAGETYPE2_PING",
            "1700000000.004000 #1 client>server @8 truncated message (51 bytes, capture ends)"])

    def test_serve_and_connect_capture_both_directions_of_the_handshake(self):
        _, files = record_session(self)
        for path in files:
            with self.subTest(path):
                result, objects = self.dump(path)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual([(o["dir"][0], o["name"][len(M):]) for o in objects if "dir" in o],
                                 HANDSHAKE)

    def test_a_damaged_capture_file_is_an_error_not_a_crash(self):
        data = make_capture("frame_split_across_three_segments")
        result = run("dump", self.write("bad.pcapng", data[:len(data) - 30]))
        self.assertIn("KTMESSAGETYPE2_CHALLENGECONNECT", result.stdout)
        self.assertNotEqual(result.returncode, 0)
        result = run("dump", self.write("bad.pcap", struct.pack("<I", 0xA1B2C3D4) + b"\0" * 5))
        self.assertEqual(result.returncode, 3)
        self.assertIn("bad.pcap", result.stderr)


if __name__ == "__main__":
    unittest.main()
