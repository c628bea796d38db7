"""ktutils serve and connect on loopback: the handshake in every connect form,
each refusal, and the failures a client must survive in bounded time."""
import json
import socket
import struct
import threading
import unittest

from tool_harness import Server, connect, start_connect, TIME_LIMIT

MODULE = "2a-1:3"


def message_names(output):
    """The message names of the client's send/recv lines, in order."""
    return [line.split()[2] for line in output.splitlines() if line.startswith(("send ", "recv "))]


class Handshake(unittest.TestCase):
    def test_every_connect_form_is_accepted_and_answered_in_its_kind(self):
        with Server("--module", MODULE) as server:
            for form, answer in [(21, "CONNECTED"), (22, "CONNECTEDDUAL"), (27, "CONNECTED"),
                                 (28, "CONNECTEDDUAL"), (29, "CONNECTED")]:
                result = connect(server.address, "--form", form, "--module", MODULE)
                self.assertEqual(result.returncode, 0, (form, result.stderr))
                request = run_name(form)
                self.assertEqual(message_names(result.stdout), [
                    "KTMESSAGETYPE2_LOOKFORSERVER", "KTMESSAGETYPE2_SERVERINFO",
                    "KTMESSAGETYPE2_BEGINCHALLENGE", "KTMESSAGETYPE2_CHALLENGE", request,
                    "KTMESSAGETYPE2_" + answer, "KTMESSAGETYPE2_PING",
                    "KTMESSAGETYPE2_KEEPALIVE", "KTMESSAGETYPE2_SHUTDOWN",
                    "KTMESSAGETYPE2_SHUTDOWN"], form)
                server.wait_for(r"closed: shut down by the client$")

    def test_the_request_carries_the_challenge_that_the_server_issued(self):
        with Server() as server:
            result = connect(server.address)
            self.assertEqual(result.returncode, 0, result.stderr)
            issued = [l for l in result.stdout.splitlines() if "recv" in l and "CHALLENGE " in l]
            word = issued[0].split("challenge=")[1]
            request = [l for l in result.stdout.splitlines() if "CHALLENGECONNECT " in l][0]
            self.assertIn(f"challenge={word} ", request)
            # The server logs the same exchange from its side.
            self.assertRegex(server.wait_for(r"recv .*CHALLENGECONNECT "), f"challenge={word} ")

    def test_server_info_tells_free_places_and_module_ids(self):
        with Server("--capacity", "3", "--module", "a-b:1", "--module", "c-d:2") as server:
            result = connect(server.address, "--json")
            self.assertEqual(result.returncode, 0, result.stderr)
            lines = [json.loads(l) for l in result.stdout.splitlines()]
            info = next(l for l in lines if l.get("name") == "KTMESSAGETYPE2_SERVERINFO")
            self.assertEqual(info["dir"], "recv")
            self.assertEqual(info["value16"], 3)
            self.assertEqual(info["moduleIds"], ["0000000a-0000000b", "0000000c-0000000d"])

    def test_the_server_stops_by_itself_after_its_count_of_clients(self):
        with Server("--clients", "1") as server:
            self.assertEqual(connect(server.address).returncode, 0)
            server.wait_for(r"^stopped$")
            self.assertEqual(server.process.wait(timeout=TIME_LIMIT), 0)


def run_name(form):
    return {21: "KTMESSAGETYPE2_CHALLENGECONNECT", 22: "KTMESSAGETYPE2_CHALLENGECONNECTDUAL",
            27: "KTMESSAGETYPE2_CHALLENGECONNECTEX", 28: "KTMESSAGETYPE2_CHALLENGECONNECTDUALEX",
            29: "KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED"}[form]


class Refusals(unittest.TestCase):
    def refused(self, result, name):
        self.assertEqual(result.returncode, 1, result.stderr)
        names = message_names(result.stdout)
        self.assertEqual(names[-1], "KTMESSAGETYPE2_" + name)
        self.assertNotIn("KTMESSAGETYPE2_PING", names)
        self.assertIn("refused the connection", result.stderr)
        return result.stdout.splitlines()[-1]

    def test_denied(self):
        with Server("--deny") as server:
            line = self.refused(connect(server.address), "SERVERDENIED")
            self.assertTrue(line.endswith("reason=1"), line)

    def test_bad_version_carries_the_servers_version(self):
        with Server("--version", "1.2.3.4") as server:
            line = self.refused(connect(server.address, "--version", "1.2.3.5"), "BADVERSION")
            self.assertTrue(line.endswith("version=1.2.3.4"), line)
            ok = connect(server.address, "--version", "1.2.3.4")
            self.assertEqual(ok.returncode, 0, ok.stderr)

    def test_bad_module_lists_exactly_the_refused_modules_in_request_order(self):
        with Server("--module", MODULE, "--module", "5-6:1") as server:
            result = connect(server.address, "--module", "2a-1:4", "--module", MODULE,
                             "--module", "7-8:1")
            line = self.refused(result, "BADMODULE")
            self.assertTrue(line.endswith("modules=[0000002a-00000001:4,00000007-00000008:1]"), line)
            self.assertIn("2a-00000001:4", result.stderr)

    def test_full_when_capacity_is_taken_and_free_again_once_the_holder_leaves(self):
        with Server("--capacity", "1") as server:
            # Named apart, or the second client would be refused as already connected.
            holder = start_connect(server.address, "--name", "holder", "--pings", "40",
                                   "--interval", "50")
            try:
                server.wait_for(r"send .*KTMESSAGETYPE2_CONNECTED ")
                self.refused(connect(server.address), "SERVERFULL")
            finally:
                out, err = holder.communicate(timeout=TIME_LIMIT)
            self.assertEqual(holder.returncode, 0, err)
            self.assertEqual(connect(server.address).returncode, 0)

    def test_capacity_zero_is_always_full(self):
        with Server("--capacity", "0") as server:
            self.refused(connect(server.address), "SERVERFULL")

    def test_already_connected_under_a_name_in_use_and_the_first_session_goes_on(self):
        with Server() as server:
            holder = start_connect(server.address, "--name", "alice", "--pings", "40",
                                   "--interval", "50")
            try:
                server.wait_for(r"send .*KTMESSAGETYPE2_CONNECTED ")
                self.refused(connect(server.address, "--name", "alice"), "ALREADYCONNECTED")
                self.assertEqual(connect(server.address, "--name", "bob").returncode, 0)
            finally:
                out, err = holder.communicate(timeout=TIME_LIMIT)
            self.assertEqual(holder.returncode, 0, err)
            self.assertEqual(message_names(out)[-1], "KTMESSAGETYPE2_SHUTDOWN")


class Failures(unittest.TestCase):
    def test_nothing_listening_is_a_system_error_naming_the_address(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        result = connect(f"127.0.0.1:{port}", "--timeout", "2")
        self.assertEqual(result.returncode, 3)
        self.assertIn(f"127.0.0.1:{port}", result.stderr)
        self.assertIn("refused", result.stderr)

    def test_a_silent_server_times_out_in_bounded_time(self):
        with socket.socket() as listener:
            listener.bind(("127.0.0.1", 0))
            listener.listen()
            port = listener.getsockname()[1]
            result = connect(f"127.0.0.1:{port}", "--timeout", "1")
        self.assertEqual(result.returncode, 3)
        self.assertIn("no answer", result.stderr)

    def test_a_server_that_answers_out_of_turn_or_damaged_broke_the_protocol(self):
        def frame(kind, payload=b"", form=0):
            return struct.pack("<IHBB", len(payload), kind, 0, form) + payload

        info, challenge = frame(26, b"\1\0", form=1), frame(20, b"\1\2\3\4")
        # The answers a fake server gives, one per request, and what the client must name.
        cases = [([frame(17)], "expected KTMESSAGETYPE2_SERVERINFO, got KTMESSAGETYPE2_PING"),
                 ([frame(26, b"\1", form=1)], "damaged KTMESSAGETYPE2_SERVERINFO"),
                 ([info, frame(20, b"\1\2")], "damaged KTMESSAGETYPE2_CHALLENGE"),
                 ([info, challenge, frame(14, b"\1\2")], "damaged KTMESSAGETYPE2_CONNECTED"),
                 ([info, challenge, frame(15, b"\1\0\0\0")], "damaged KTMESSAGETYPE2_CONNECTEDDUAL"),
                 ([info, challenge, frame(122)], "damaged KTMESSAGETYPE2_SERVERDENIED")]
        for answers, named in cases:
            with self.subTest(named), socket.socket() as listener:
                listener.bind(("127.0.0.1", 0))
                listener.listen()
                port = listener.getsockname()[1]

                def answer():
                    peer, _ = listener.accept()
                    with peer:
                        for reply in answers:
                            peer.recv(4096)
                            peer.sendall(reply)
                        peer.recv(4096)

                thread = threading.Thread(target=answer, daemon=True)
                thread.start()
                result = connect(f"127.0.0.1:{port}", "--timeout", "5")
                thread.join(TIME_LIMIT)
            self.assertEqual(result.returncode, 3, result.stderr)
            self.assertIn("broke the protocol: " + named, result.stderr)

    def test_the_server_drops_a_malformed_stream_and_serves_the_next_client(self):
        with Server() as server:
            with socket.create_connection(("127.0.0.1", server.port), timeout=5) as raw:
                raw.sendall(struct.pack("<IHBB", 0, 17, 0, 9))  # form 9: no writer makes it
                self.assertEqual(raw.recv(64), b"")  # closed without an answer
            server.wait_for(r"closed: malformed stream$")
            self.assertEqual(connect(server.address).returncode, 0)

    def test_the_server_drops_a_silent_client_after_its_timeout(self):
        with Server("--timeout", "1") as server:
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as raw:
                self.assertEqual(raw.recv(64), b"")
            server.wait_for(r"closed: idle for too long$")

    def test_ping_before_connecting_is_answered_not_connected_yet(self):
        with Server() as server:
            with socket.create_connection(("127.0.0.1", server.port), timeout=5) as raw:
                raw.sendall(struct.pack("<IHBB", 0, 17, 0, 0))
                self.assertEqual(raw.recv(64), struct.pack("<IHBB", 0, 125, 0, 0))

    def test_malformed_arguments_are_usage_errors_naming_the_option(self):
        for args, named in [(["127.0.0.1"], "HOST:PORT"), (["127.0.0.1:0"], "HOST:PORT"),
                            (["127.0.0.1:1", "--form", "23"], "--form"),
                            (["127.0.0.1:1", "--version", "1.2.3"], "--version"),
                            (["127.0.0.1:1", "--version", "1.2.3.256"], "--version"),
                            (["127.0.0.1:1", "--module", "2a:3"], "--module")]:
            result = connect(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(named, result.stderr, args)


if __name__ == "__main__":
    unittest.main()
