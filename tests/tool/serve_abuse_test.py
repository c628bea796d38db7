"""ktutils serve under load and abuse, on loopback only, each case bounded in
count and time: many clients at once, clients that try to exhaust the
server's memory, its descriptors or its pre-login places, and an output that
nobody reads."""
import os
import resource
import signal
import socket
import struct
import subprocess
import time
import unittest

from tool_harness import TOOL, TIME_LIMIT, Server, connect


def frame(kind, payload=b"", form=0):
    return struct.pack("<IHBB", len(payload), kind, 0, form) + payload


LOOK, BEGIN, SHUTDOWN, PING = frame(25, form=1), frame(18), frame(16), frame(17)
SERVERINFO, CHALLENGE, CONNECTED, NOTCONNECTEDYET = 26, 20, 14, 125
# With these, each 8-byte LookForServer asks for a 1.6 KiB ServerInfo: answers pile up fast.
MANY_MODULES = [a for i in range(200) for a in ("--module", f"{i + 1}-1:1")]


def request(challenge, name):
    """ChallengeConnect2: the word, string1, an empty string2, version 0.0.0.3."""
    return frame(21, struct.pack("<I", challenge) + name.encode() + b"\0\0" + bytes([0, 0, 0, 3]))


def read_frame(sock):
    """(type, payload) of the next frame; raises on a closed or silent peer."""
    def exactly(n):
        data = b""
        while len(data) < n:
            piece = sock.recv(n - len(data))
            if not piece:
                raise ConnectionError("closed by the server")
            data += piece
        return data
    length, kind, _, _ = struct.unpack("<IHBB", exactly(8))
    return kind, exactly(length)


def dropped(sock, timeout):
    """True when the server closes `sock` within `timeout` (whatever it still had queued is read)."""
    sock.settimeout(timeout)
    try:
        while sock.recv(1 << 20):
            pass
        return True
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def open_files_at_least(n):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard != resource.RLIM_INFINITY and hard < n:
        return False
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, n), hard))
    return True


def server_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Load(unittest.TestCase):
    def test_a_thousand_clients_at_once_all_complete_the_handshake(self):
        count = 1000
        if not open_files_at_least(count + 100):
            self.skipTest(f"the hard limit of open files is below {count + 100}")
        with Server("--capacity", count, "--quiet") as server:
            # Every connection is open and has its requests in flight before any answer is read.
            peers = [socket.create_connection(("127.0.0.1", server.port), timeout=TIME_LIMIT)
                     for _ in range(count)]
            try:
                for peer in peers:
                    peer.sendall(LOOK + BEGIN)
                words = []
                for peer in peers:
                    self.assertEqual(read_frame(peer)[0], SERVERINFO)
                    kind, payload = read_frame(peer)
                    self.assertEqual(kind, CHALLENGE)
                    words.append(struct.unpack("<I", payload)[0])
                for i, (peer, word) in enumerate(zip(peers, words)):
                    peer.sendall(request(word, f"client{i}") + SHUTDOWN)
                answers = [read_frame(peer)[0] for peer in peers]
                self.assertEqual(answers, [CONNECTED] * count)
            finally:
                for peer in peers:
                    peer.close()


class Exhaustion(unittest.TestCase):
    def test_clients_that_never_read_or_keep_sending_while_closed_cannot_grow_the_server(self):
        bound_kib = 48 * 1024
        with Server("--timeout", 1, "--quiet", *MANY_MODULES) as server:
            attackers = [socket.create_connection(("127.0.0.1", server.port), timeout=5)
                         for _ in range(4)]
            for a in attackers:
                a.setblocking(False)
            flood = LOOK * 4096
            # Two send requests and never read; two ask to shut down first, then keep sending.
            for a in attackers[2:]:
                a.send(LOOK * 1000 + SHUTDOWN)
            held, end = list(attackers), time.monotonic() + 2
            while held and time.monotonic() < end:
                for a in list(held):
                    try:
                        a.send(flood)
                    except BlockingIOError:
                        time.sleep(0.001)
                    except ConnectionError:
                        held.remove(a)  # dropped already: what the server should do
            with open(f"/proc/{server.process.pid}/status") as f:
                peak_kib = int(f.read().split("VmHWM:")[1].split()[0])
            with self.subTest("peak resident memory"):
                if os.environ.get("KTUTILS_SANITIZED"):
                    self.skipTest("a sanitizer's shadow memory and quarantine swamp the server's own")
                self.assertLess(peak_kib, bound_kib, "the server's peak resident memory in KiB")
            self.assertEqual(connect(server.address, "--timeout", 5).returncode, 0)
            for a in attackers:
                a.setblocking(True)
                self.assertTrue(dropped(a, 5), "an attacker still held after its timeout")
                a.close()

    def test_a_client_that_sends_far_ahead_of_reading_still_gets_every_answer(self):
        count = 10000  # 16 MiB of answers: past what the socket and the server queue hold
        with Server("--quiet", *MANY_MODULES) as server:
            with socket.create_connection(("127.0.0.1", server.port), timeout=5) as peer:
                peer.sendall(LOOK * count + PING)
                kinds = [read_frame(peer)[0] for _ in range(count + 1)]
            self.assertEqual(kinds, [SERVERINFO] * count + [NOTCONNECTEDYET])

    def test_connections_that_do_not_log_in_are_dropped_and_hold_back_new_ones_meanwhile(self):
        with Server("--login-timeout", 1, "--max-pending", 2) as server:
            pingers = [socket.create_connection(("127.0.0.1", server.port), timeout=5)
                       for _ in range(2)]
            for p in pingers:
                p.sendall(PING)
                self.assertEqual(read_frame(p)[0], NOTCONNECTEDYET)
            waiting = socket.create_connection(("127.0.0.1", server.port), timeout=0.5)
            waiting.sendall(LOOK)
            # Both places are taken: the newcomer waits in the backlog, unanswered.
            self.assertRaises(socket.timeout, waiting.recv, 1)
            for p in pingers:
                self.assertTrue(dropped(p, 3))
                p.close()
            waiting.settimeout(5)
            self.assertEqual(read_frame(waiting)[0], SERVERINFO)
            waiting.close()
            server.wait_for(r"closed: not logged in in time$")

    def test_no_descriptor_left_pauses_accepting_without_spinning_and_serving_resumes(self):
        limit = 24

        def few_descriptors():
            resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))

        with Server("--quiet", preexec_fn=few_descriptors) as server:
            crowd = [socket.create_connection(("127.0.0.1", server.port), timeout=5)
                     for _ in range(limit + 8)]
            server.wait_for(r"^accepting paused: accept: Too many open files$", timeout=5)
            cpu = server_cpu_seconds(server.process.pid)
            time.sleep(1)
            self.assertLess(server_cpu_seconds(server.process.pid) - cpu, 0.3, "busy accept loop")
            for peer in crowd:
                peer.close()
            self.assertEqual(connect(server.address, "--timeout", 5).returncode, 0)
            server.stop()
            pauses = [l for l in server.lines + list(iter(server.queue.get, None))
                      if "accepting paused" in l]
            self.assertEqual(len(pauses), 1, "one line per episode")


class Stopping(unittest.TestCase):
    def test_sigterm_stops_the_server_promptly_even_when_nobody_reads_its_output(self):
        for reader_stalls in (False, True):
            with self.subTest(reader_stalls=reader_stalls):
                process = subprocess.Popen([TOOL, "serve", "--port", "0"], stdout=subprocess.PIPE,
                                           stderr=subprocess.DEVNULL)
                try:
                    port = int(process.stdout.readline().rsplit(b":", 1)[1])
                    # About 1 KiB of log per client: 300 fill the pipe several times over.
                    for i in range(300 if reader_stalls else 1):
                        with socket.create_connection(("127.0.0.1", port), timeout=5) as peer:
                            peer.sendall(LOOK + BEGIN)
                            read_frame(peer)
                            word = struct.unpack("<I", read_frame(peer)[1])[0]
                            peer.sendall(request(word, "x") + SHUTDOWN)
                            self.assertEqual(read_frame(peer)[0], CONNECTED, i)
                    start = time.monotonic()
                    process.send_signal(signal.SIGTERM)
                    self.assertEqual(process.wait(timeout=TIME_LIMIT), 0)
                    # 100 ms is the aim; the bound leaves room for a loaded machine.
                    self.assertLess(time.monotonic() - start, 1.0)
                finally:
                    if process.poll() is None:
                        process.kill()
                    process.wait()
                    process.stdout.close()


if __name__ == "__main__":
    unittest.main()
