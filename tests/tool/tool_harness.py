#!/usr/bin/env python3
"""The ktutils tool (KTUTILS_TOOL) driven as its users drive it, one class of table-driven cases per command group:
`tool_harness.py Crc` runs one. Servers listen on loopback only, and every process is bounded in time."""
import base64, collections, contextlib, hashlib, itertools, json, os, pathlib, pty, queue, re, resource, select, shlex, shutil, signal, socket, struct
import subprocess, tempfile, threading, time, unittest, zlib
from decimal import Decimal

TOOL, ENV, LIMIT = os.environ.get("KTUTILS_TOOL", "ktutils"), os.environ.get, 20  # LIMIT: seconds per process
resource.setrlimit(resource.RLIMIT_NOFILE, (resource.getrlimit(resource.RLIMIT_NOFILE)[1],) * 2)  # for a thousand clients
M, PIPE, SANITIZED = "KTMESSAGETYPE2_", subprocess.PIPE, os.environ.get("KTUTILS_SANITIZED")
frame = lambda kind, payload=b"", form=0: struct.pack("<IHBB", len(payload), kind, 0, form) + payload  # noqa: E731
adler = lambda data: f"{zlib.adler32(data):08x}"  # noqa: E731


def run(*args, stdin=None, env=None, cwd=None, prefix=(), stdout=PIPE):
    return subprocess.run([*prefix, TOOL, *map(str, args)], input=stdin, stdout=stdout, stderr=PIPE, cwd=cwd,
                          timeout=LIMIT * (10 if prefix else 1), text=not isinstance(stdin, bytes),
                          env={**os.environ, **(env or {})})


with open(f"{ENV('KTUTILS_TEST_DATA_DIR', os.path.dirname(__file__) + '/..')}/protocol/golden/messages.hex", encoding="ascii") as _f:
    _parts = re.split(r"^\[(\w+)\]$", _f.read(), flags=re.M)  # the golden frames of every encoder, in file order
F = {name: bytes.fromhex("".join(l.split("#")[0] for l in body.splitlines())) for name, body in zip(_parts[1::2], _parts[2::2])}
DESCRIBED = [re.findall(r"^#> (.*)$", body, flags=re.M) for body in _parts[2::2]]  # each frame's text and JSON forms
STREAM, CONNECT, CHALLENGE = b"".join(F.values()), F["WriteChallengeConnect2"], F["WriteChallenge2"]
LOOK, BEGIN, SHUTDOWN, PING = frame(25, form=1), frame(18), frame(16), frame(17)


class Server(contextlib.AbstractContextManager):  # serve on a free port; its log lines read by a thread if `read`

    def __init__(self, *args, preexec_fn=None, read=True, stderr=subprocess.DEVNULL):
        self.p = subprocess.Popen([TOOL, "serve", "--port", "0", *map(str, args)], stdout=PIPE,
                                  stderr=stderr, text=True, preexec_fn=preexec_fn)
        if not select.select([self.p.stdout], [], [], LIMIT)[0]:
            self.p.kill()  # silent: the line read below is empty and fails the test
        self.port, self.q, self.lines = int(self.p.stdout.readline().rsplit(":", 1)[1]), queue.Queue(), []
        self.address = f"127.0.0.1:{self.port}"
        if read:
            threading.Thread(target=lambda: [*map(self.q.put, self.p.stdout), self.q.put(None)], daemon=True).start()

    def __exit__(self, *exc):
        self.stop()

    def wait_for(self, pattern, timeout=LIMIT):
        end = time.monotonic() + timeout
        while True:
            self.lines.append(self.q.get(timeout=max(0, end - time.monotonic())))
            assert self.lines[-1] is not None, "the server ended"
            if match := re.search(pattern, self.lines[-1]):
                return match

    def stop(self):
        self.p.terminate()
        try:
            return self.p.wait(LIMIT)
        finally:
            self.p.kill()

    def connect(self, timeout=5):
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)


def read_frame(sock):  # (type, payload)
    data, need = b"", 8
    while len(data) < need:
        data += (piece := sock.recv(need - len(data)))
        assert piece, "closed by the server"
        need = 8 + struct.unpack_from("<I", data)[0] if len(data) >= 8 else 8
    return struct.unpack_from("<H", data, 4)[0], data[8:]


def drain(sock, timeout):  # until the server closes `sock`; socket.timeout if it is held longer
    sock.settimeout(timeout)
    with contextlib.suppress(ConnectionResetError):
        while sock.recv(1 << 20):
            pass


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        pathlib.Path(self.path(name)).write_bytes(data.encode() if isinstance(data, str) else data)
        return self.path(name)

    def read(self, name):
        return pathlib.Path(self.path(name)).read_bytes()

    def table(self, rows, **kw):
        """Rows of (command line, exit status, whole stdout or None, part of stderr or None for none[, stdin])."""
        for cmd, code, out, err, *stdin in rows:
            with self.subTest(cmd):
                r = run(*(shlex.split(cmd) if isinstance(cmd, str) else cmd), stdin=(stdin or [None])[0], **kw)
                self.assertEqual((r.returncode, r.stdout), (code, r.stdout if out is None else out), r.stderr)
                self.assertIn(err, r.stderr) if err is not None else self.assertEqual(r.stderr, "")
CODES = {"error": "0 KT_OK 17 KTERR_SERVERFULL 0x11 KTERR_SERVERFULL 31 KTERR_AUTHFAILED 5000 KTERR_USER 9 UNKNOWN_ERROR "
                  "30 UNKNOWN_ERROR -1 UNKNOWN_ERROR 4999 UNKNOWN_ERROR -2147483648 UNKNOWN_ERROR",
         "message": f"14 {M}CONNECTED 29 {M}CHALLENGECONNECTEMBEDDED 120 {M}CONNECTIONERROR 0x7e {M}ALREADYCONNECTED 0 "
                    "UNKNOWN_MESSAGE 13 UNKNOWN_MESSAGE 30 UNKNOWN_MESSAGE 119 UNKNOWN_MESSAGE 127 UNKNOWN_MESSAGE 65535 UNKNOWN_MESSAGE"}
# Usage errors: exit 2, nothing on stdout, and these two lines on stderr.
USAGE = [("", "ktutils", "A subcommand is required"), ("frobnicate", "ktutils", "'frobnicate' is not a subcommand"),
         ("--bogus crc", "ktutils", "unrecognized option '--bogus'"), ("dump", "ktutils dump", "FILE is required"),
         ("crc --bogus", "ktutils crc", "unrecognized option '--bogus'"), ("name error 1 2", "ktutils name error",
         "extra operand '2'"), ("serve --port 99999", "ktutils serve", "--port: '99999' is not a number from 0 to 65535"),
         ("dump --connection 0 x", "ktutils dump", "--connection: '0' is not a number from 1 to 4294967295"),
         *[(c, "ktutils " + c.split(" -")[0],
          f"option '{c.split()[-1].split('=')[0]}' doesn't allow an argument") for c in ("crc --check=LIST", "crc --tag=yes",
                                                                                   "marker read --json=false")]]
# More usage errors, each naming what is wrong, then values each option (or the HOST:PORT operand) refuses.
BAD_ARGS = "'name message 65536' N 'name message -1' N 'name message 0x1g' N name '' 'name error 2147483648' N " \
           "\"name error ''\" N 'name colour 3' '' marker '' 'marker read' '' 'marker erase x' '' verify '' " \
           "'verify --ui 0 x' --ui 'verify --ui 5 x' --ui 'verify --ui none x' --ui 'marker write --info 2147483648 x' " \
           "--info 'connect 127.0.0.1:1 --password-file /nonexistent/pw' '/nonexistent/pw: No such file' " \
           "'serve --max-memory 1KiB' \"'1KiB' is not a size of at least 64KiB\" 'serve --max-memory -5' -5 'serve --max-memory 1x' 1x"
# The parsers' refusals are the library's own (tests/protocol/record_text_test.cpp): a few here for the wiring.
REFUSED = {"--protocol-version": "'' 1.2.3.256 ' 1.2.3.4'", "--form": "23", "--module": "2a-1 2a-1:4294967296 1-000000001:3",
           "HOST:PORT": "'' 127.0.0.1 127.0.0.1:0 localhost :4000 localhost: ::1:4000 []:4000 host:65536 host:-1 host:4k"}


class Names(Case):
    def test_names_versions_and_usage_errors(self):
        rows = [(f"name {kind} {number}", int(name.startswith("UNKNOWN")), name + "\n", "")
                for kind, table in CODES.items() for number, name in zip(*[iter(table.split())] * 2)]
        rows += [(cmd, 2, "", f"{who}: {what}\nTry '{who} --help' for more information.\n") for cmd, who, what in USAGE]
        rows += [(cmd, 2, "", what) for cmd, what in zip(*[iter(shlex.split(BAD_ARGS))] * 2)]
        rows += [(["connect", *(["127.0.0.1:1", f"{option}={value}"] if option[0] == "-" else [value])], 2, "", option)
                 for option, values in REFUSED.items() for value in shlex.split(values)]
        rows += [("version", 0, "0.0.0.3\n", ""), ("connect [::1]:1 --timeout 1", 3, "", "ktutils connect: ::1:1: "),
                 (["connect", "127.0.0.1:1", "--capture", "/none/a\nb"], 3, "", "connect: '/none/a'$'\\n''b': No such"),  # parsed; quoted
                 ("name error abc0", 1, "", "'abc0' names no error code")]
        rows += [(["serve", *(f"--module={i}-1:1" for i in range(8192))], 2, "", "8192 modules do not fit in a ServerInfo")]
        rows += [(f"name {kind} {name}", 0, f"{number}\n", "") for kind, name, number in [("error", "KTERR_SERVERFULL", 17),
                 ("error", "authFailed", 31), ("message", "ping", 17), ("message", "KTMESSAGETYPE2_ALREADYCONNECTED", 126)]]
        self.table(rows + [(f"{cmd} --version", 0, f"ktutils {ENV('KTUTILS_PACKAGE_VERSION')}\nprotocol version 0.0.0.3\n", "")
                           for cmd in ("", "crc", "marker write", "name error", "connect")] * bool(ENV("KTUTILS_PACKAGE_VERSION")))
        for kind, table in CODES.items():  # every named number, once, in order
            listed, known = run("name", kind, "--list").stdout, {int(n, 0): v for n, v in zip(*[iter(table.split())] * 2)}
            self.assertLessEqual({f"{n} {v}" for n, v in known.items() if "UNKNOWN" not in v}, set(listed.splitlines()))
            self.assertEqual((len(listed.splitlines()), "UNKNOWN" in listed), ({"error": 30, "message": 23}[kind], False))
        self.assertEqual(re.findall(r"(?m)^  (\w+)\s+\S", run("--help").stdout), "crc marker verify dump serve connect "
                         "name version 0 1 2 3".split())  # the commands and exit statuses

    def test_output_that_cannot_be_written_is_a_write_error(self):
        listing = run("crc", self.write("data", STREAM)).stdout
        with Server() as server:
            for cmd in ["crc {}", "crc -c -", "marker write {}", "marker read {}", "marker check {}", "dump {}",
                        "dump --json {}", "verify {}", "name error 0", "version", "--version", "--help", "crc --help",
                        "connect " + server.address]:
                with self.subTest(cmd), open("/dev/full", "w") as full:
                    r = run(*cmd.format(self.path("data")).split(), stdin=listing, stdout=full)
                    self.assertEqual(r.returncode, 3)
                    self.assertTrue(r.stderr.endswith("ktutils: write error: No space left on device\n"), r.stderr)


class Dump(Case):
    def test_every_message_is_decoded_at_its_offset_in_text_and_json(self):
        text, js = (run("dump", "--show-secrets", *json, self.write("s", STREAM)) for json in ([], ["--json"]))
        offsets = [0, *itertools.accumulate(len(f) for f in F.values())][:-1]  # each as the golden file describes it
        self.assertEqual(text.stdout.splitlines(), [f"@{at} {d[0]}" for at, d in zip(offsets, DESCRIBED)])
        self.assertEqual(js.stdout.splitlines(), [f'{{"offset":{at},{d[1][1:]}' for at, d in zip(offsets, DESCRIBED)])
        self.assertEqual((text.returncode, text.stderr, run("dump", "-", "--show-secrets", stdin=STREAM).stdout.decode()),
                         (0, "", text.stdout))
        hidden = run("dump", self.path("s")).stdout + run("dump", "--json", self.path("s")).stdout  # passwords only when asked for
        self.assertEqual((len(re.findall(r'(?:string2|block2)(?:=|":")<redacted>', hidden)), "s3cret" in hidden, "f0f1f2f3" in hidden),
                         (8, False, False))  # 21, 22, 27 and 28, in text and JSON

    def test_damaged_streams_are_reported_by_offset_and_dumping_goes_on_where_it_can(self):
        good, n = run("dump", self.write("s", STREAM)).stdout, len(STREAM)
        partial = frame(14, struct.pack("<IIIB", 7, 1, 2, 3) + b"\5\0\0\0")  # ends in the 2nd element
        for data, code, out, err in [
                (b"", 0, "", ""), (STREAM + CONNECT[:-1], 1, good, f"s: offset {n}: truncated"), (STREAM + b"\4\0\0", 1, good,
                                                                                              f"offset {n}: truncated message (3 bytes"),
                (PING + frame(20, b"\0" * 4, form=5) + PING, 1, f"@0 {M}PING\n", "offset 8: malformed frame"),
                (PING + struct.pack("<IHBB", 0x7FFFFFFF, 14, 0, 0), 1, f"@0 {M}PING\n", "offset 8: malformed frame"),
                (partial + PING, 1, f'@0 {M}CONNECTED value32=0x00000007 modules=[00000001-00000002/3] error="payload '
                 f'ends inside a field"\n@{len(partial)} {M}PING\n', f"offset 0: {M}CONNECTED payload ends inside a field"),
                (frame(300, b"ab"), 0, "@0 UNKNOWN_MESSAGE type=300 trailing=true\n", ""),  # fields not read are named:
                (frame(20, b"\1\2"), 1, f'@0 {M}CHALLENGE challenge=<missing> error="payload ends inside a field"\n', "offset 0"),
                (frame(21, b"\1\0\0\0ab"), 1, {"offset": 0, "type": 21, "name": M + "CHALLENGECONNECT", "challenge": 1, "missing":
                 ["string1", "string2", "version", "modules"], "error": "payload ends inside a field"}, "offset 0"),
                (frame(21, b"\1\0\0\0a\nb\"\1\0\0\1\2\3\4"), 0, rf'@0 {M}CHALLENGECONNECT challenge=0x00000001 '
                 r'string1="a\x0ab\"\x01" string2=<redacted> version=1.2.3.4 modules=[]' "\n", "")]:  # JSON's own: message_json_test
            with self.subTest(out=out, err=err):
                r = run("dump", self.write("s", data), *["--json"] * isinstance(out, dict))
                self.assertEqual((r.returncode, json.loads(r.stdout) if isinstance(out, dict) else r.stdout), (code, out))
                self.assertIn(err, r.stderr) if err is not None else self.assertEqual(r.stderr, "")
        for name, reason in [("absent", "No such file or directory"), ("", "Is a directory")]:
            r = run("dump", self.path(name))
            self.assertRegex(f"{r.returncode} {r.stderr}", f"^3 ktutils dump: {re.escape(self.path(name))}: .*{reason}")

    def test_a_long_stream_loses_no_frame_between_reads(self):
        r = run("dump", self.write("s", frame(20, b"\1\2\3\4xyz") * 40000))  # frames across the 64 KiB reads
        self.assertEqual(r.stdout.count("\n"), 40000)
        self.assertTrue(r.stdout.endswith(f"@{15 * 39999} {M}CHALLENGE challenge=0x04030201 trailing=true\n"))
        with subprocess.Popen([TOOL, "dump", self.path("s")], stdout=PIPE) as p:  # a reader that stops: dump ends at once
            p.stdout.readline(), p.stdout.close()
            self.assertEqual(p.wait(5), -signal.SIGPIPE)


HANDSHAKE = ["LOOKFORSERVER", "SERVERINFO", "BEGINCHALLENGE", "CHALLENGE", "CHALLENGECONNECT", "CONNECTED", "PING",
             "KEEPALIVE", "SHUTDOWN", "SHUTDOWN"]


def names(output):  # of a client's send/recv lines, in order, each after its time
    return [w[3][len(M):] for w in map(str.split, output.splitlines()) if w[1:2] in (["send"], ["recv"])]


def login(peer, name, word=None):  # a raw handshake up to the server's answer; `word` spoils the challenge
    peer.sendall(LOOK + BEGIN)
    issued = (read_frame(peer), read_frame(peer))[1][1]
    peer.sendall(frame(21, (word or issued) + name.encode() + b"\0\0\0\0\0\3") + SHUTDOWN)
    return read_frame(peer)


class Serve(Case):
    def test_every_connect_form_completes_the_handshake_answered_in_its_kind(self):
        with Server("--module", "0000002a-00000001:3") as server:  # any form of the same module
            for form, request in {21: "", 22: "DUAL", 27: "EX", 28: "DUALEX", 29: "EMBEDDED"}.items():
                r = run("connect", server.address, "--form", form, "--module", "2A-1:0x3")
                self.assertEqual(names(r.stdout), HANDSHAKE[:4] + ["CHALLENGECONNECT" + request, "CONNECTED" + "DUAL" * (
                    "DUAL" in request)] + HANDSHAKE[6:])
                self.assertRegex(r.stdout, r"^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z \S.*\n)+$")  # each line timed
                server.wait_for(r"closed: shut down by the client$")

    def test_the_request_carries_the_issued_challenge_and_the_password_from_a_file_first(self):
        with Server("--capacity", 3, "--module", "a-b:1", "--module", "c-d:2", "--show-secrets") as server:
            r = run("connect", server.address, "--password-file", self.write("pw", "from-file\r\nline 2\n"), "--password", "t",
                    "--show-secrets")
            self.assertIn('string2="from-file"', r.stdout)
            word = re.search(r"recv .*CHALLENGE challenge=(\S+)", r.stdout).group(1)  # the server logs the same word
            self.assertRegex(r.stdout + server.wait_for(r"recv .*CHALLENGECONNECT .*from-file").string,
                             rf"send .*CHALLENGECONNECT challenge={word} (.|\n)*recv .*CHALLENGECONNECT challenge={word} ")
            lines = [json.loads(l) for l in run("connect", server.address, "--json", "--password", "t").stdout.splitlines()]
            info, request = [o for o in lines if "INFO" in o.get("name", "")][0], [o for o in lines if "string2" in o][0]
            self.assertEqual((info["dir"], info["value16"], info["moduleIds"], request["string2"], {next(iter(o)) for o in lines}),
                             ("recv", 3, ["0000000a-0000000b", "0000000c-0000000d"], "<redacted>", {"time"}))  # time first
            with server.connect() as raw:  # a request without the word the server issued
                self.assertEqual(login(raw, "x", b"\0\0\0\0"), (122, b"\2"))

    def test_each_refusal_ends_the_exchange_with_the_first_rule_that_fails(self):
        # Rules in order: denied, already connected, version, modules, capacity; "alice" holds a place meanwhile
        # when the client's name is given. Then a request that passes, once alice has left.
        for server_args, client_args, answer, accepted in [
                ("--deny --capacity 0", "--module 7-8:1", "SERVERDENIED reason=1", None),
                ("", "--name alice --protocol-version 9.9.9.9", "ALREADYCONNECTED", "--name alice"),
                ("--capacity 0 --protocol-version 1.20.255.0", "--protocol-version 1.20.255.1 --module 7-8:1",
                 "BADVERSION version=1.20.255.0", None),
                ("--capacity 1", "--name bob", "SERVERFULL", "--name bob"), ("--capacity 0 --module 1-1:1", "--module 1-1:2",
                                                                            "BADMODULE", None),
                ("--module 2a-1:3 --module 5-6:1", "--module 2a-1:4 --module 2a-1:3 --module 7-8:1",
                 "BADMODULE modules=[0000002a-00000001:4,00000007-00000008:1]", "--module 5-6:1 --module 2a-1:3")]:
            with self.subTest(answer), Server(*server_args.split()) as server:
                holder = subprocess.Popen([TOOL, "connect", server.address, "--name", "alice", "--pings", "40", "--interval",
                                           "50"], stdout=PIPE, stderr=PIPE, text=True) if "--name" in client_args else None
                holder and server.wait_for(f"send .*{M}CONNECTED ")
                r = run("connect", server.address, *client_args.split())
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertRegex(r.stdout, rf"{M}{re.escape(answer)}( .*)?\n$")
                self.assertNotIn("PING", r.stdout)
                self.assertTrue("refused the connection" in r.stderr and ("2a" not in answer or ":4" in r.stderr), r.stderr)
                if holder:  # the holder's session went on to its end
                    self.assertEqual((holder.wait(LIMIT), names(holder.stdout.read())[-1]), (0, "SHUTDOWN"))
                if accepted:
                    self.assertEqual(run("connect", server.address, *accepted.split()).returncode, 0)

    def test_a_client_fails_in_bounded_time_on_a_dead_silent_or_broken_server(self):
        for answer, named in [(None, "Connection refused"), (b"", "no answer"), (PING, f"expected {M}SERVERINFO, got {M}PING"),
                              (frame(26, b"\1", form=1), f"damaged {M}SERVERINFO"),  # then short answers, each refused:
                              *[(F["WriteServerInfo"] + CHALLENGE * (f != CHALLENGE) + struct.pack("<I", n) + f[4:8 + n],
                                 f"damaged {M}{name}") for f, n, name in [(CHALLENGE, 2, "CHALLENGE"), (F[
                                     "WriteConnected2"], 12, "CONNECTED"), (F["WriteServerDenied2"], 0, "SERVERDENIED")]]]:
            with self.subTest(named), socket.socket() as listener:
                listener.bind(("127.0.0.1", 0))
                if answer is not None:  # a server that accepts and sends `answer` at once, then nothing more
                    listener.listen()
                    threading.Thread(target=lambda: answer and listener.accept()[0].sendall(answer), daemon=True).start()
                r = run("connect", "127.0.0.1:%d" % listener.getsockname()[1], "--timeout", 1)
                self.assertEqual(r.returncode, 3, r.stderr)
                self.assertIn(named, r.stderr)


MODULES = [f"--module={i}-1:1" for i in range(1, 201)]  # so each 8-byte LookForServer asks for a 1.6 KiB ServerInfo


def quietly(call, *args):  # a call on a non-blocking socket or descriptor that may find it full, empty or gone
    with contextlib.suppress(BlockingIOError, ConnectionError):
        return call(*args)


def churn(crowd, server, pause):  # a thread that keeps opening a connection and closing the one before; call to stop it
    done = threading.Event()
    (thread := threading.Thread(target=lambda: [crowd.append(server.connect()) or crowd.pop(-2).close() or time.sleep(pause)
                                                for _ in iter(done.is_set, True)], daemon=True)).start()
    return lambda: (done.set(), thread.join())


class ServeAbuse(Case):
    def test_malformed_flooding_or_far_behind_clients_cannot_hold_or_grow_the_server(self):
        with Server("--quiet", "--timeout", 1, "--login-timeout", 60, "--max-memory", "16MiB", *MODULES) as server:
            with server.connect() as raw:
                raw.sendall(frame(17, form=9))  # form 9: no writer makes it; dropped unanswered
                self.assertEqual(raw.recv(64), b"")
            attackers = [server.connect() for _ in range(1000)]
            for i, a in enumerate(attackers):  # none reads (1.1 MiB each if unbounded); half ask to shut down first, then go on
                a.send(LOOK * 1000 + SHUTDOWN * (i % 2))
                a.setblocking(False)
            end = time.monotonic() + 2
            while time.monotonic() < end:
                [quietly(a.send, LOOK * 4096) for a in attackers]
                time.sleep(0.001)
            with open(f"/proc/{server.p.pid}/status") as f:  # a sanitizer's shadow memory swamps the server's own
                self.assertLess(int(f.read().split("VmHWM:")[1].split()[0]) * (not SANITIZED), 48 << 10, "peak KiB")
            for a in attackers:
                a.setblocking(True)
                drain(a, 5)  # dropped past the memory bound or after the timeout
            with server.connect() as peer:  # 16 MiB of answers, read at about 5 MB/s, so held at the limit for seconds: all come
                peer.sendall(LOOK * 10000 + PING)
                self.assertEqual([read_frame(peer)[0] for i in range(10001) if i % 10 or not time.sleep(0.003)], [26] * 10000 + [125])

    def test_a_thousand_clients_at_once_are_all_served(self):
        with Server("--capacity", 1000, "--quiet") as server:
            peers = [server.connect(LIMIT) for _ in range(1000)]
            [peer.sendall(LOOK + BEGIN) for peer in peers]  # all in flight before any answer is read
            words = [(read_frame(peer), read_frame(peer))[1][1] for peer in peers]
            [peer.sendall(frame(21, word + b"c%d\0\0\0\0\0\3" % i)) for i, (peer, word) in enumerate(zip(peers, words))]
            self.assertEqual([read_frame(peer)[0] for peer in peers], [14] * 1000)
            [peer.close() for peer in peers]

    def test_a_client_is_served_promptly_beside_clients_flooding_for_large_answers(self):
        with Server("--quiet", *MODULES) as server:
            flooders, done = [server.connect() for _ in range(20)], threading.Event()
            [f.setblocking(False) for f in flooders]
            threading.Thread(target=lambda: [([quietly(f.send, LOOK * 512) for f in ready[1]], [quietly(f.recv, 1 << 20) for f in ready[0]])
                                             for _ in iter(done.is_set, True) if (ready := select.select(flooders, flooders, [], 0.1))],
                             daemon=True).start()  # each reads every answer and asks for more as fast as it can
            time.sleep(0.5)
            r = run("connect", server.address)  # its 5 s for each answer
            done.set()
            self.assertEqual(r.returncode, 0, r.stderr)

    def test_connections_not_logging_in_cannot_lock_a_client_out(self):
        self.assertLess(*(int(re.search(rf"{o} .*?\(default (\d+)\)", run(c, "--help").stdout, re.S)[1]) for c, o in [
            ("serve", "--login-timeout"), ("connect", "--timeout")]))
        with Server("--max-pending", 8, "--quiet") as server:  # 12 silent connections for 8 places, renewed all along
            crowd = [server.connect() for _ in range(12)]
            stop = churn(crowd, server, 0.001)
            self.assertEqual([run("connect", server.address).returncode for _ in range(11)], [0] * 11)
            stop()
        with Server("--login-timeout", 1, "--max-pending", 2) as server:
            pingers = [server.connect() for _ in range(2)]
            for p in pingers:  # answered before logging in, holding both places
                p.sendall(PING)
                self.assertEqual(read_frame(p)[0], 125)
            with server.connect(0.5) as newcomer:  # served at once: the one silent the longest gives up its place
                newcomer.sendall(LOOK)
                self.assertEqual(read_frame(newcomer)[0], 26)
                [drain(p, 3) for p in pingers]
            server.wait_for(r"Z \[1\] closed: dropped for a newer connection \(--max-pending reached\)$")
            server.wait_for(r"Z \[2\] closed: not logged in in time$")

    @unittest.skipIf(SANITIZED, "UBSan's type checks open a pipe, which fails with no descriptor left")
    def test_no_descriptor_left_pauses_accepting_without_spinning_and_a_client_is_still_served(self):
        def cpu():
            with open(f"/proc/{server.p.pid}/stat") as f:
                return sum(map(int, f.read().rsplit(")", 1)[1].split()[11:13])) / os.sysconf("SC_CLK_TCK")
        with Server("--quiet", preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24))) as server:
            crowd = [server.connect() for _ in range(32)]
            server.wait_for(r"Z accepting paused: accept: Too many open files$", timeout=5)
            before = cpu()
            time.sleep(1)
            self.assertLess(cpu() - before, 0.3, "busy accept loop")
            stop = churn(crowd, server, 0.02)  # descriptors freed and taken again all along
            self.assertEqual(run("connect", server.address).returncode, 0)
            stop()
            server.stop()
            self.assertEqual(sum("accepting paused" in l for l in server.lines + [*iter(server.q.get, None)]), 1)

    def test_sigterm_stops_the_server_promptly_even_when_nobody_reads_its_log(self):
        for clients in (1, 300):  # about 1 KiB of log each: 300 fill the pipe several times over
            with Server(read=False) as server:
                for i in range(clients):
                    with server.connect() as peer:
                        self.assertEqual(login(peer, "x")[0], 14)
                start = time.monotonic()
                server.p.send_signal(signal.SIGTERM)
                self.assertEqual(server.p.wait(LIMIT), 0)
                self.assertLess(time.monotonic() - start, 3.0 if SANITIZED else 1.0, clients)  # 100 ms is the aim

    def test_a_log_or_capture_that_stalls_fails_or_loses_its_reader_holds_up_no_client_and_is_told_once(self):
        os.mkfifo(fifo := self.path("fifo"))
        reader, err = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK), self.path("err")  # a FIFO reader that reads nothing yet
        told = lambda text, wait=2: next((True for _ in range(int(wait * 20)) if text in pathlib.Path(err).read_text() or
                                          time.sleep(0.05)), False)  # noqa: E731
        limit = lambda size: lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))  # noqa: E731 (as a full disk: writes fail)
        for args, preexec, reasons in [((), None, ["ktutils serve: standard output: Broken pipe: "]),  # serve | head -1
                                       (("--quiet", "--capture", fifo, *MODULES), None, [" dropped: the output did not keep up", ": Broken pipe: "]),
                                       (("--quiet", "--capture", self.path("c.pcapng")), limit(16384), ["c.pcapng: File too large: "])]:
            with self.subTest(args), open(err, "w") as stderr, Server(*args, read=False, stderr=stderr, preexec_fn=preexec) as server:
                args or server.p.stdout.close()
                for i in range(150):  # a FIFO held up the server at about the 74th
                    with server.connect() as peer:
                        self.assertEqual(login(peer, f"c{i}")[0], 14)
                if reasons[-1] == ": Broken pipe: ":  # past the queue's 4 MiB; then read, so it catches up; then gone
                    with server.connect() as peer:
                        peer.sendall(LOOK * 3000)
                        [read_frame(peer) for _ in range(3000)]
                    for _ in range(100):  # read what came, until the drops are told
                        while quietly(os.read, reader, 1 << 20):
                            pass
                        if told(reasons[0], 0.05):
                            break
                    os.close(reader)
                    with server.connect() as peer:
                        self.assertEqual(login(peer, "last")[0], 14)
                elif preexec:  # a capture whose packets did not all reach the file fails connect
                    r = subprocess.run([TOOL, "connect", server.address, "--capture", self.path("k")], capture_output=True, text=True,
                                       timeout=LIMIT, preexec_fn=limit(512))
                    self.assertEqual((r.returncode, "k: File too large: " in r.stderr), (3, True), r.stderr)
                    self.assertEqual(run("dump", self.path("c.pcapng")).returncode, 0)  # whole blocks only
                self.assertTrue(told(reasons[-1]))
                self.assertEqual(server.stop(), 3)
                self.assertEqual([pathlib.Path(err).read_text().count(r) for r in reasons], [1] * len(reasons))
        with Server(*MODULES, read=False) as server:  # a log nobody reads for a while, its lines large and small: dropped lines
            with server.connect() as peer:                # are told once, as soon as it caught up, though the server is idle
                peer.sendall((LOOK + PING) * 400)
                [read_frame(peer) for _ in range(800)]
            out = b"".join(iter(lambda: select.select([server.p.stdout], [], [], 1)[0] and os.read(server.p.stdout.fileno(), 1 << 20) or b"", b""))
            self.assertEqual(out.count(b" log lines dropped: the output did not keep up\n"), 1, out[-300:])


# Cases of coreutils' own sha*sum tests, run by GNU sha256sum and by `ktutils crc` on the same files: (arguments,
# text of list "l", or of stdin where l is not an argument; extra files, each holding its name). {f} {g} {name}: a
# file's digest ({G} upper case), {bad} a wrong one, {tag} the algorithm, {z} {nul} junk of a digest's length.
ODD = ["a", " b", "*c", "dd", " "]
SAME_AS_GNU = [
    ("-c l", "{f}  f\n"), ("-c l", "{f}  f\r\n"), ("-c --strict l", "{f}  f\n\n"), ("-c --strict l", "ERR\n{f}  f\n"),
    ("-c l", "ERR\n{f}  f\nbad\n{z}  f\n"), ("-c --status l", "{g}  f\n"), ("-c --quiet l", "{f}  f\n"), ("-c --quiet l", "{g}  f\n"),
    ("-c l", "{g}  f\n{g}  f\ninvalid\n"), ("-c --warn l", "{g}  f\n{g}  f\ninvalid\n"), ("-c -w l", "{f}  f\n{f}  g\n{f}  f\n"),
    ("-c l", "{tag} (f) = {f}\n"), ("-c --status l", "{tag} (f) = {g}\n"), ("-c l", "{tag}(f)= {f}\n"), ("-c l", "{tag} ("),
    ("-c l", "{nul}  f\n"), ("-c l", "{f}  nonexistent\n"), ("-c --ignore-missing l", "{f}  f\n{f}  f.missing\n"),
    ("-c --ignore-missing l", "{f}  missing\n"), ("-c --quiet --ignore-missing l", "{f}  missing/f\n{f}  f\n"),
    ("-c l m absent e", "{f}  f\nbad\n"), ("-c --status --warn l", "bad\n{bad}  f\n"), ("-c --warn --status l", "bad\n{bad}  f\n"),
    ("--status --warn --ignore-missing -c l", "{bad}  nonexistent\n"), ("-c l", "{G} *g\n"), ("-c", "{f}  f\n"),
    ("-c l", "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n# a comment\n{f}  f\n-----BEGIN PGP SIGNATURE-----\n\nx=\n"),
    ("-c --strict l", "x\ny\n{bad}  f\n{bad}  g\n{f}  absent\n{f}  gone\n"), ("-c --strict l", " \\{f}  f\n\t{tag} (g) = {g}\n"),
    ("-c -", "{f}  f\n{f}  -\n"), ("-c", ""), ("", "data"), ("-c l", "____not_all_hex_so_no_match_____ blah\n{f}  f\n"),
    ("-c --strict l", "".join(f"{{{n}}}  {n}\n{{tag}} ({n}) = {{{n}}}\n" for n in ODD), ODD),
    ("-c --strict l", "".join(f"{{{n}}} {n}\n" for n in ODD[:4]), ODD[:4]), ("-c --strict l", "".join(f"{{{n}}} {n}\n" for n in ODD[1:4]), ODD[1:4]),
    ("-c l", "\\{a\\b}  a\\\\b\n\\{tag} (a\\nb) = {a\nb}\n{tag} (a\tb) = {a\tb}\n", ["a\\b", "a\nb", "a\tb"]),
    ("-c l", "{tag} (abc (f) = abc) = {abc (f) = abc}\n", ["abc (f) = abc"]), ("-t -b f --tag g", None), ("--tag -t f", None),
    ([".\nfoo", ".\\foo", ".\rfoo"], None, [".\nfoo", ".\\foo", ".\rfoo"]), (["-z", "a\nb", "f"], None, ["a\nb"]),
    (["--tag", "f", "test\n\\file"], None, ["test\n\\file"]), ("--tag -c l", ""), ("-z -c l", ""), ("-b -c l", ""),
    ("--ignore-missing f", None), ("--strict f", None), (["f", "no such", "it's", "a'$b", "a:b", "#c", "d#", "=", "{", "{e",
                                                          "x\ny\tz", "\x1b[1m", "café", os.fsdecode(b"\xff"), ""], None)]


class Digests(dict):
    def __init__(self, folder, digest, tag):
        super().__init__(bad=digest(b"not the contents"), tag=tag, nul="\0" * len(digest(b"")), z="z" * len(digest(b"")))
        self.folder, self.digest = folder, digest

    def __missing__(self, name):
        digest = self.digest(pathlib.Path(self.folder, name.lower()).read_bytes())
        return digest.upper() if name == "G" else digest  # G: g's digest in upper case


class Crc(Case):
    def side(self, program, digest, tag, args, text, files=()):
        self.dir = tempfile.mkdtemp(dir=self.dir)  # g's Adler-32, dfecba89, holds every letter digit
        [self.write(k, v) for k, v in {"f": b"", "g": b"\xfe" * 188, "e": b"", **{n: n.encode() for n in files}}.items()]
        args, h, stdin = shlex.split(args) if isinstance(args, str) else args, Digests(self.dir, digest, tag), None
        if text is not None and "l" in args:
            self.write("l", text.format_map(h)), self.write("m", "{f}  g\n".format_map(h))
        elif text is not None:
            stdin = text.format_map(h).encode()
        # C.UTF-8: GNU shows UTF-8 names as they are only in a UTF-8 locale.
        r = subprocess.run([*program, *args], cwd=self.dir, capture_output=True, input=stdin, timeout=LIMIT,
                           env={**os.environ, "LC_ALL": "C.UTF-8"})
        self.dir = os.path.dirname(self.dir)
        return r.returncode, r.stdout, r.stderr

    @unittest.skipIf(shutil.which("sha256sum") is None, "GNU sha256sum is not installed: nothing to compare with")
    def test_output_warnings_and_status_match_sha256sum(self):
        sha = lambda d: hashlib.sha256(d).hexdigest()
        for case in SAME_AS_GNU:
            with self.subTest(case):
                gnu, out, err = self.side(["sha256sum"], sha, "SHA256", *case)
                status, mine, mine_err = self.side([TOOL, "crc"], adler, "ADLER32", *case)
                self.assertEqual(mine_err, err.replace(b"sha256sum", b"ktutils crc").replace(b"SHA256", b"ADLER32"))
                for data in [b"", b"\xfe" * 188, b"data", b"not the contents", *(n.encode() for n in (*case, ())[2])]:
                    out = out.replace(sha(data).encode(), adler(data).encode())
                self.assertEqual(mine, out.replace(b"SHA256", b"ADLER32"))
                # Every ktutils command exits 2 on a usage error, 3 on an unreadable file; GNU says 1 for both.
                self.assertEqual((gnu, status), (1, 2 if b"--help" in err else 3) if status > 1 else (status, status))

    def test_standard_input_sums_as_zlib_does_and_odd_list_lines_are_skipped(self):
        # Past the 1 MiB pieces the tool reads, in bytes that grow both sums fastest; `-` again: what stdin has left.
        data, ok = b"\xff" * ((1 << 20) + 5553), f"{adler(b'abc')}  f\n"
        self.assertEqual(run("crc", "-", "-", stdin=data).stdout.decode(), f"{adler(data)}  -\n{adler(b'')}  -\n")
        self.write("f", b"abc")
        for line, shown in [(ok[:-1] + "\0junk\n", ""), (ok[:10] + "f" * (64 << 10) + "\n", ""),
                            (ok[:10] + "f" * ((64 << 10) - 10) + "\n", "FAILED open or read")]:
            r = run("crc", "-c", "-w", self.write("list", line + ok), cwd=self.dir)
            self.assertIn(shown or ": 1: improperly formatted ADLER32 checksum line", r.stdout + r.stderr)
            self.assertTrue(r.stdout.endswith("f: OK\n"), r.stdout)

    def test_lines_keep_their_order_stay_whole_and_one_eof_ends_a_terminal(self):
        self.write("a", b"a"), self.write("l", f"{adler(b'a')}  a\n00000000  a\n")
        for args, shown in [("a missing a", f"{adler(b'a')}  a\nktutils crc: missing: No such file or directory\n{adler(b'a')}  a\n"),
                            ("-c l", "a: OK\na: FAILED\nktutils crc: WARNING: 1 computed checksum did NOT match\n"),
                            ("--json a missing", f'{{"path":"a","checksum":"{adler(b"a")}"}}\nktutils crc: missing: No such file or '
                                                 'directory\n{"path":"missing","error":"No such file or directory"}\n'),
                            ("-c --json --quiet l", '{"path":"a","result":"FAILED"}\nktutils crc: WARNING: 1 computed checksum did NOT '
                                                    'match\n')]:  # one log of both outputs, as `2>&1 | cat` makes
            self.assertEqual(subprocess.run([TOOL, "crc", *args.split()], cwd=self.dir, stdout=PIPE, stderr=subprocess.STDOUT,
                                            text=True, timeout=LIMIT).stdout, shown)
        name = self.write("n" * 200, b"x")  # two runs into one file, as `xargs -P2` makes them: no line cut into
        with open(self.path("out"), "w") as out:
            [p.wait(LIMIT) for p in [subprocess.Popen([TOOL, "crc", *[name] * 2000], stdout=out) for _ in range(2)]]
        self.assertEqual(collections.Counter(self.read("out").decode().splitlines()), {f"{adler(b'x')}  {name}": 4000})
        leader, follower = pty.openpty()  # a terminal: what was typed, then one ^D
        with subprocess.Popen([TOOL, "crc"], stdin=follower, stdout=PIPE, text=True) as p:
            os.close(follower), os.write(leader, b"abc\x04")
            self.assertEqual(p.communicate(timeout=5)[0], f"{adler(b'abc')}  -\n")
        os.close(leader)


class Marker(Case):
    def test_write_read_and_check_markers_beside_files_worst_status_winning(self):
        files = {"big": os.urandom(3 << 20 | 7), "ok": b"ok", "stale": b"before", "ok2": b"ok", "loop": b""}
        a, no = {n: adler(d) for n, d in files.items() if self.write(n, d)}, "No such file or directory"  # each file written
        for n, stored in [(0, b""), (3, b"abc"), (4, b"\0" * 4), (5, b"\0" * 5), (8, struct.pack("<Ii", zlib.adler32(b"m"), -1)), (9, b"")]:
            self.write(f"m{n}", b"m"), self.write(f"m{n}.crc", stored)
        os.truncate(self.path("m9.crc"), 5 << 30)  # refused by its size, not read
        os.mkdir(self.path("dir")), os.mkdir(self.path("ok2.crc"))  # a folder under a marker's name is no marker, nor writable
        os.makedirs(self.path("dir/sub")), self.write("dir/sub/a", b"a"), self.write("dir/b", b"b")
        os.symlink("../ok", self.path("dir/link"))  # a walk follows no link
        os.symlink("loop.crc", self.path("loop.crc"))
        bad = "".join(f"m{n}: MALFORMED (marker of {n if n < 9 else 5 << 30} bytes, not 4 or 8)\n" for n in (0, 3, 5, 9))
        w = lambda n, d=None: f"{n}: marker written, {d or a[n]}\n"  # noqa: E731
        self.table([("marker write big ok stale", 0, w("big") + w("ok") + w("stale"), ""),
                    ("marker write absent dir ok", 3, w("ok"), f"absent: {no}"),
                    ("marker write dir ok ok.crc", 1, w("ok"), "ktutils marker write: dir: is a folder, skipped (-r walks folders)\n"),
                    ("marker write -r dir", 0, f"dir/b: marker written, {adler(b'b')}\ndir/sub/a: marker written, {adler(b'a')}\n", ""),
                    ("marker check -r dir/", 0, "dir/b: OK\ndir/sub/a: OK\n", ""), ("marker read --json -r ok dir/b.crc dir/sub", 0,
                     f'{{"path":"ok","state":"present","checksum":"{a["ok"]}"}}\n{{"path":"dir/sub/a","state":"present","checksum":"'
                     f'{adler(b"a")}"}}\n', ""), ("marker check --json m5 absent", 3, '{"path":"m5","state":"MALFORMED","size":5}\n'
                                                  f'{{"path":"absent","error":"{no}"}}\n', no),
                    ("marker write ok2", 3, "", "ok2.crc: cannot be opened for writing"), ("marker read ok2", 1, "ok2: no marker\n", ""),
                    ("marker check ok2", 1, "ok2: MISSING (no marker)\n", ""), ("marker check big", 0, "big: OK\n", ""),
                    ("marker read big ok", 0, f"big: {a['big']}\nok: {a['ok']}\n", ""),
                    ("marker read loop", 3, "", "ktutils marker read: loop.crc: Too many levels of symbolic links"),
                    ("marker check loop", 3, "", "ktutils marker check: loop.crc: Too many levels of symbolic links"),
                    ("marker read ok2 absent", 3, "ok2: no marker\n", f"absent: {no}"), ("marker check m8", 0, "m8: OK\n", ""),
                    ("marker read m4 m8", 0, f"m4: 00000000\nm8: {adler(b'm')}\n", ""), ("marker check m4", 1, None, ""),
                    ("marker read m0 m3 m5 m9", 1, bad, ""), ("marker check m0 m3 m5 m9", 1, bad, "")], cwd=self.dir)
        self.assertEqual((os.path.exists(self.path("absent.crc")), os.path.exists(self.path("ok.crc.crc")), self.read("big.crc")),
                         (False, False, bytes.fromhex(a["big"])[::-1]))
        self.write("stale", b"after!")
        self.table([("marker check ok stale ok2", 1, f"ok: OK\nstale: STALE (marker {a['stale']}, contents "
                                                    f"{adler(b'after!')})\nok2: MISSING (no marker)\n", ""),
                    ("marker check stale absent", 3, None, f"absent: {no}"),
                    ("marker write --info -1 ok", 0, w("ok", a["ok"] + ", info -1"), "")], cwd=self.dir)
        self.assertEqual(self.read("ok.crc"), struct.pack("<Ii", zlib.adler32(b"ok"), -1))  # eight bytes, then four again
        run("marker", "write", self.path("ok"))
        self.assertEqual(self.read("ok.crc"), struct.pack("<I", zlib.adler32(b"ok")))
        # Files cut at 4 bytes: the 8-byte form fails after the checksum, the same as the one stored, so only its bytes tell.
        r = subprocess.run([TOOL, "marker", "write", "--info", "5", self.path("ok")], capture_output=True, text=True, timeout=LIMIT,
                           preexec_fn=lambda: (signal.signal(signal.SIGXFSZ, signal.SIG_IGN), resource.setrlimit(resource.RLIMIT_FSIZE, (4, 4))))
        self.assertEqual((r.returncode, r.stdout, r.stderr.split("/")[-1]), (3, "", "ok.crc: not stored (reading it back gives other bytes)\n"))


class Session:
    """One TCP connection as captured packets, 1 ms apart; checksums are zero, as nobody checks them."""

    def __init__(self, v6=False, client_port=40000, isn=(1000, 0xFFFFFF00), handshake=True, snap=None):
        self.v6, self.ports, self.isn, self.next, self.packets = v6, (client_port, 7000), isn, [isn[0] + 1, isn[1] + 1], []
        self.snap = snap  # of every packet, unless one says otherwise
        self.addr = [socket.inet_pton(socket.AF_INET6, "::1")] * 2 if v6 else [socket.inet_aton(f"127.0.0.{i}") for i in (1, 2)]
        for d, seq, flags in ((0, isn[0], 2), (1, isn[1], 0x12), (0, isn[0] + 1, 0x10)) if handshake else ():
            self.packet(d, seq, flags)  # SYN, SYN+ACK, ACK

    def packet(self, d, seq, flags, payload=b"", snap=None):
        tcp = struct.pack("!HHIIBBHHH", self.ports[d], self.ports[1 - d], seq & 0xFFFFFFFF,
                          self.next[1 - d] & 0xFFFFFFFF if flags & 0x10 else 0, 5 << 4, flags, 65535, 0, 0) + payload
        ip = (struct.pack("!IHBB", 6 << 28, len(tcp), 6, 64) if self.v6 else
              struct.pack("!BBHHHBBH", 0x45, 0, 20 + len(tcp), 0, 0x4000, 64, 6, 0))
        self.packets.append((ip + self.addr[d] + self.addr[1 - d] + tcp, snap or self.snap))

    def at(self, d, offset, data, snap=None, skip=0):  # a segment of direction `d` (0: client) at stream `offset`
        self.packet(d, self.isn[d] + 1 + offset, 0x18, data, snap)
        self.next[d] += skip

    def close(self, d, flags=0x11):  # a FIN from direction `d`, or with flags 0x04 a reset
        self.packet(d, self.next[d], flags)
        self.next[d] += flags & 1

    def send(self, d, data, cuts=()):  # the next bytes of direction `d`, split at `cuts`
        bounds = [0, *cuts, len(data)]
        for a, b in zip(bounds, bounds[1:]):
            self.at(d, self.next[d] - self.isn[d] - 1 + a, data[a:b])
        self.next[d] += len(data)


def capture(packets, link="ether", pcapng=True):  # a capture file of (IP packet, snap length or None) pairs
    linktype, header = {"ether": (1, lambda v: b"\2" * 12 + (b"\x86\xdd" if v == 6 else b"\x08\x00")),
                        "sll": (113, lambda v: struct.pack("!HHH8sH", 0, 772, 0, b"", 0x86DD if v == 6 else 0x800)),
                        "sll2": (276, lambda v: struct.pack("!HHIHBB8s", 0x86DD if v == 6 else 0x800, 0, 1, 772, 0, 0, b"")),
                        "raw": (101, lambda v: b""), "user0": (147, lambda v: b""), "null": (0, lambda v: struct.pack("=I", 24 if v == 6 else 2))}[link]
    out = [struct.pack("<IIIHHqIIIHHII", 0x0A0D0D0A, 28, 0x1A2B3C4D, 1, 0, -1, 28, 1, 20, linktype, 0, 65535, 20)
           if pcapng else struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype)]
    for i, (ip, snap) in enumerate(packets):
        us, data = 1700000000 * 10**6 + i * 1000, header(ip[0] >> 4) + ip
        cut = data[:len(header(4)) + snap] if snap else data
        pad = cut + b"\0" * (-len(cut) % 4)
        out.append(struct.pack("<7I", 6, 32 + len(pad), 0, us >> 32, us & 0xFFFFFFFF, len(cut), len(data)) + pad +
                   struct.pack("<I", 32 + len(pad)) if pcapng else struct.pack("<4I", us // 10**6, us % 10**6, len(cut),
                                                                                len(data)) + cut)
    return b"".join(out)


N, HTTP = len(CONNECT), b"GET / HTTP/1.1\r\n\r\n"
# name: (link, IPv6, dump arguments, exit status, "direction offset:message or event" of each line shown or "!why
# nothing is", the session after its handshake); "no_handshake" in a name leaves the handshake out, "tcp_header_cut"
# keeps 34 bytes of each packet (IP, and TCP up to its flags).
CASES = {
    "frame_split_across_three_segments": ("ether", 0, (), 0, "c0:CHALLENGECONNECT s0:CONNECTED",
                                          lambda s: (s.send(0, CONNECT, (3, 12)), s.send(1, F["WriteConnected2"]))),
    "retransmitted_bytes_are_shown_once": ("sll", 0, (), 0, f"c0:CHALLENGECONNECT c{N}:PING", lambda s: (
        s.at(0, 0, CONNECT[:20]), s.at(0, 0, CONNECT[:20]), s.at(0, 10, CONNECT[10:], skip=N), s.send(0, PING))),
    "out_of_order_segment_waits_for_the_bytes_before_it": ("raw", 1, (), 0, f"s0:CHALLENGE c0:CHALLENGECONNECT c{N}:PING",
                                                           lambda s: (s.at(0, 20, CONNECT[20:] + PING), s.send(
                                                               1, CHALLENGE), s.at(0, 0, CONNECT[:20]))),
    "truncated_last_message_is_reported_not_decoded": ("sll2", 1, (), 1, "c0:PING c8:truncated",
                                                       lambda s: (s.send(0, PING), s.send(0, CONNECT[:-3]))),
    "gap_inside_a_message_loses_it_and_resumes_after_it": ("null", 0, (), 1, f"c12:gap c{N}:PING", lambda s: (
        s.at(0, 0, CONNECT[:12]), s.at(0, 20, CONNECT[20:] + PING))),
    "gap_over_a_header_stops_the_direction": ("ether", 1, (), 1, "c0:PING c8:gap",
                                              lambda s: (s.send(0, PING), s.at(0, 12, PING + CHALLENGE))),
    "bytes_cut_by_the_snap_length_are_a_gap": ("ether", 0, (), 1, f"c10:gap c{N}:PING",
                                               lambda s: (s.at(0, 0, CONNECT, snap=50, skip=N), s.send(0, PING))),
    "sequence_numbers_wrap_around": ("ether", 0, (), 0, " ".join(f"s{8 * i}:PING" for i in range(40)) + " s320:CHALLENGE",
                                     lambda s: s.send(1, PING * 40 + CHALLENGE, (250, 262))),
    "no_handshake_seen_from_its_middle_a_stream_is_not_framed": ("ether", 0, ("--port", 7000), 1, "c0:unframed", lambda s: s.send(0, CONNECT)),
    "no_handshake_nothing_is_shown_by_default": ("ether", 0, (), 1, "!no connection of this protocol", lambda s: s.send(0, CONNECT)),
    "other_protocols_are_left_out_by_default": ("ether", 0, (), 1, "!no connection of this protocol", lambda s: s.send(0, HTTP)),
    "tcp_header_cut_still_shows_the_syn": ("ether", 0, ("--port", 7000), 1, "c0:gap", lambda s: s.send(0, CONNECT)),
    "tcp_header_cut_says_so_by_default": ("ether", 0, (), 1, "!2 packets were cut short by the capture's snap length",
                                          lambda s: (s.send(0, LOOK), s.send(1, F["WriteServerInfo"]))),
    "a_link_type_without_tcp_is_said": ("user0", 0, (), 1, "!link type 147 carries no TCP", lambda s: s.send(0, PING)),
    "a_connection_not_there_is_said": ("ether", 0, ("--connection", 2), 1, "!no connection #2 (the capture holds 1)",
                                       lambda s: s.send(0, PING)),
    "port_shows_a_connection_whatever_it_carries": ("ether", 0, ("--port", 7000), 1, "c0:malformed", lambda s: s.send(0, HTTP)),
    "after_both_fins_the_same_addresses_are_another_connection": ("ether", 0, ("--port", 7000), 1, "c0:PING c0:unframed", lambda s: (
        s.send(0, PING), s.close(0), s.close(1), s.send(0, PING))),
    "after_a_reset_the_same_addresses_are_another_connection": ("ether", 1, ("--port", 7000), 1, "c0:PING c0:unframed", lambda s: (
        s.send(0, PING), s.close(1, 0x04), s.send(0, PING)))}


def make_capture(case, pcapng=True):
    CASES[case][5](session := Session(v6=CASES[case][1], handshake="no_handshake" not in case, snap=34 * ("tcp_header_cut" in case)))
    return capture(session.packets, CASES[case][0], pcapng)


class Capture(Case):
    def dump(self, data, *args):  # (status, "direction offset:message or event" of each line, the lines)
        r = run("dump", data if isinstance(data, str) else self.write("c.pcapng", data), "--json", *args)
        lines = [json.loads(line) for line in r.stdout.splitlines()]
        nothing = re.findall(r": nothing to show: (.*)", r.stderr)  # said when no line is shown
        return r.returncode, " ".join(f"{o['dir'][0]}{o['offset']}:" + o.get("name", M + o.get("event", ""))[len(M):]
                                      for o in lines if "dir" in o) or "".join("!" + n for n in nothing), [o for o in lines if "dir" in o]

    def test_connections_are_put_back_together_and_damage_reported_as_it_is(self):
        for case, (_, _, args, status, expected, _) in CASES.items():
            for pcapng in (True, False):
                with self.subTest(case, pcapng=pcapng):
                    got = self.dump(make_capture(case, pcapng), *args)[:2]
                    self.assertEqual(got, (status, got[1] if expected[:1] == "!" and expected[1:] in got[1] else expected))
        self.assertTrue(run("dump", self.write("t.pcap", make_capture("truncated_last_message_is_reported_not_decoded"))).stdout
                        .endswith("\n1700000000.003000 #1 client>server @0 KTMESSAGETYPE2_PING\n1700000000.004000 #1 "
                                  "client>server @8 truncated message (51 bytes, capture ends)\n"))
        t = make_capture("retransmitted_bytes_are_shown_once")  # lines at 3, 5 and 6 ms; from a pipe, told by its magic number
        for form, times in {"iso": "2023-11-14T22:13:20.00{}000Z", "relative": "0.00{}000", "delta": "0.00{}000"}.items():
            r = run("dump", "-", "--time", form, stdin=t)
            self.assertEqual([l.split()[0] for l in r.stdout.decode().splitlines()], [times.format(n) for n in {
                "iso": "356", "relative": "023", "delta": "021"}[form]])
        loads = lambda *args: "libpcap" in run(*args, self.path("t.pcap"), env={"LD_DEBUG": "files"}).stderr  # noqa: E731
        self.assertEqual((loads("crc"), loads("dump")), (False, True))  # libpcap only where a capture is read
        r = run("dump", self.write("bad.pcapng", make_capture("frame_split_across_three_segments")[:-30]))
        self.assertTrue(r.returncode and M + "CHALLENGECONNECT" in r.stdout, r)  # what came before the damage is shown
        r = run("dump", self.write("bad.pcap", struct.pack("<I", 0xA1B2C3D4) + bytes(5)))  # a header cut short
        self.assertRegex(f"{r.returncode} {r.stderr}", "^3 .*bad.pcap")

    def test_every_message_decodes_as_in_the_stream_dump_and_connections_are_told_apart(self):
        s, a, b = Session(), Session(client_port=40001), Session(client_port=40002)
        s.send(0, STREAM, cuts=range(7, len(STREAM), 61))
        reference = [json.loads(l) for l in run("dump", self.write("s", STREAM), "--json").stdout.splitlines()]
        self.assertEqual([{k: v for k, v in o.items() if k not in ("time", "connection", "dir")}
                          for o in self.dump(capture(s.packets))[2]], reference)
        a.send(0, PING)
        b.send(1, CHALLENGE)  # the second connection alone, which dump numbers 2
        self.assertEqual([(o["connection"], o["name"]) for o in self.dump(capture(a.packets + b.packets), "--connection", 2)[2]],
                         [(2, M + "CHALLENGE")])

    def test_memory_follows_the_connections_open_at_once_not_the_capture(self):
        s, syn = Session(), Session(handshake=False)  # 100,000 SYNs never closed, between two messages of one connection,
        syn.ports = (1, 7001)                         # which is forgotten meanwhile, idle the longest
        s.send(0, PING), s.send(0, PING), syn.packet(0, 0, 2)
        flood = ((syn.packets[0][0][:12] + struct.pack("!I", 0x0A000000 + i) + syn.packets[0][0][16:], None) for i in range(100000))
        r = subprocess.run([TOOL, "dump", self.write("c.pcapng", capture(itertools.chain(s.packets[:-1], flood, s.packets[-1:]))),
                            "--json", "--port", "7000"], capture_output=True, timeout=LIMIT, preexec_fn=None if SANITIZED else
                           lambda: resource.setrlimit(resource.RLIMIT_DATA, (64 << 20,) * 2))  # its heap within 64 MiB
        self.assertEqual([(o["connection"], o["offset"], o.get("name", o.get("event"))) for o in map(json.loads, r.stdout.splitlines())
                          if "dir" in o] + [r.returncode], [(1, 0, M + "PING"), (100002, 0, "unframed"), 1], r.stderr)

    def test_serve_and_connect_capture_both_directions_of_their_session(self):
        files = self.path("server.pcapng"), self.path("client.pcapng")
        with Server("--clients", 1, "--capture", files[0]) as server:
            self.assertEqual(run("connect", server.address, "--capture", files[1]).returncode, 0)
            server.wait_for("Z stopped$")  # by itself after its count of clients
            self.assertEqual(server.p.wait(LIMIT), 0)
        for path in files:
            self.assertEqual([(o["dir"][0], o["name"][len(M):]) for o in self.dump(path)[2]], list(zip("cscscscscs", HANDSHAKE)))
            if shutil.which("tshark"):  # and the dissector reads them as dump does
                Dissector.agree(self, path, server.port)


EXPERTS = {"ktutils.damaged": ("error", "payload ends inside a field"), "ktutils.trailing_bytes": ("trailing", True)}


def dissect(path, port=7000):  # tshark with the dissector on `path`: a row per message, as Dissector.agree makes of dump's
    script = f"{os.path.dirname(__file__)}/../../tools/wireshark/ktutils.lua"  # loaded beside a copy, as with an installed one;
    with tempfile.TemporaryDirectory() as copy:  # the port is found by the protocol's headers, not named
        shutil.copy(script, copy)
        r = subprocess.run(["tshark", "-X", f"lua_script:{copy}/ktutils.lua", "-X", f"lua_script:{script}", "-o",
                            "tcp.reassemble_out_of_order:TRUE", "-r", path, "-Y", "ktutils", "-T", "json", "--no-duplicate-keys"],
                           capture_output=True, text=True, timeout=LIMIT)
    assert r.returncode == 0 and "Lua" not in r.stderr, r.stderr
    rows, listed = [], lambda v: v if isinstance(v, list) else [v]
    for layers in (packet["_source"]["layers"] for packet in json.loads(r.stdout or "[]")):
        for pdu in listed(layers["ktutils"]):
            fields = dict(EXPERTS[k] for e in listed(pdu.get("_ws.expert", [])) for k in e if k in EXPERTS)
            for key, value in ((k[len("ktutils."):], v) for k, v in pdu.items() if k.startswith("ktutils.")):
                value = int(value, 0) if key in ("value32", "value16", "challenge", "reason") else value
                if key not in ("length", "channel", "form", "type", "name", "trailing") and not key.endswith("_tree"):
                    fields[key] = listed(value) if key[:6] == "module" else value.replace(":", "") if key[:5] == "block" else value
            rows.append((Decimal(layers["frame"]["frame.time_epoch"]), int(layers["tcp"]["tcp.stream"]) + 1,
                         "client>server" if int(layers["tcp"]["tcp.dstport"]) == port else "server>client",
                         int(pdu["ktutils.type"]), pdu["ktutils.name"], fields))
    return rows


@unittest.skipIf(shutil.which("tshark") is None, "tshark is not installed (Debian package tshark)")
class Dissector(Case):
    def agree(self, path, port=7000):  # tshark with the dissector shows what dump shows of `path`, field for field
        dump = []
        for o in (json.loads(l) for l in run("dump", path, "--json", "--show-secrets").stdout.splitlines() if '"type"' in l):
            fields = {k: [v if isinstance(v, str) else v["id"] + (f":{v['version']}" if "version" in v else f"/{v['state']}")
                          for v in value] if isinstance(value, list) else value for k, value in o.items()
                      if k not in ("time", "connection", "dir", "offset", "type", "name") and value != []}
            dump.append((Decimal(o["time"]), o["connection"], o["dir"], o["type"], o["name"], fields))
        self.assertEqual(dissect(path, port), dump)

    def test_the_dissector_reads_every_message_and_reassembly_case_as_dump_does(self):
        # Wireshark neither resumes after a gap nor tells a stream seen from its middle, and goes by port
        # where dump leaves out what does not frame: those cases are dump's alone.
        for case, row in CASES.items():
            if row[4][:1] not in ("", "!") and not {"gap", "unframed", "malformed"} & {e.split(":")[1] for e in row[4].split()}:
                with self.subTest(case):
                    self.agree(self.write("c.pcapng", make_capture(case)))
        s = Session()  # every type, then damage, which the dissector shows as expert info
        s.send(0, b"".join(list(F.values())[:12]), cuts=(5, 40, 41))
        s.send(1, b"".join(list(F.values())[12:]) + frame(14, b"\7\0\0\0\1\0\0\0\2\0\0\0\3\5\0") + frame(20, b"\1\2\3\4xyz"))
        self.agree(self.write("c.pcapng", capture(s.packets)))


class Install(Case):
    @unittest.skipUnless(ENV("KTUTILS_MAN_PAGE"), "run by ctest, which names the built man page and completion")
    def test_man_page_and_completion_cover_every_command_and_option(self):
        r = subprocess.run(["man", "--warnings", "-l", ENV("KTUTILS_MAN_PAGE")], capture_output=True, text=True,
                           timeout=LIMIT, env={**os.environ, "MANWIDTH": "80"})
        self.assertEqual((r.returncode, r.stderr, f"ktutils {ENV('KTUTILS_PACKAGE_VERSION')}" in r.stdout), (0, "", True))
        page = re.sub(r"\s+", " ", r.stdout.replace("\u2010", "-"))
        complete = lambda *words: set(subprocess.run(["bash", "-c", 'source "$1"; shift; COMP_WORDS=(ktutils "$@"); COMP_CWORD=$#; '
                                                      '_ktutils; printf "%s\\n" "${COMPREPLY[@]}"', "bash", ENV("KTUTILS_COMPLETION"),
                                                      *words], capture_output=True, text=True, timeout=LIMIT, check=True).stdout.split())
        listed = lambda *path: re.findall(r"(?m)^  ([a-z]+)\s", run(*path, "--help").stdout)
        paths = [(n, sub) for n in listed() for sub in listed(n)] + [(n,) for n in listed() if not listed(n)]
        self.assertEqual((complete(""), complete("c")), ({p[0] for p in paths} | {"--help", "--version"}, {"crc", "connect"}))
        statuses = dict(zip(*[iter("crc 0123 marker_write 0123 marker_read 0123 marker_check 0123 verify 0123 dump 0123 serve 023 "
                                   "connect 0123 name_error 012 name_message 012 version 023".split())] * 2))
        for path in paths:
            shown = run(*path, "--help").stdout  # in words, with the exit statuses of this command alone
            options = dict(re.findall(r"(?m)^\s+(?:-\w,)?(--[a-z][a-z-]*)( [A-Z]\S*)?", shown))
            self.assertEqual(("".join(re.findall(r"(?m)^  (\d)  ", shown)), re.findall(r"\b(?:TEXT|U?INT|FLOAT|POSITIVE|VALUE)\b|\[[^]]* - ",
                                                                                  shown)), (statuses["_".join(path)], []), path)
            self.assertIn(" ".join(path), page)
            self.assertLessEqual(set(options) - {"--password"}, set(re.findall(r"--[a-z][a-z-]*", page)), path)
            self.assertLessEqual(set(options) - {"--help"}, complete(*path, "--"), path)
            for option in (o for o, value in options.items() if value):  # a value: never an option name in its place
                self.assertFalse({w for w in complete(*path, option, "") if w[:1] == "-"}, (path, option))
        self.assertEqual((complete("crc", "-c", self.write("list.crc", b"")[:-5]), complete("verify", "--ui", ""), complete(
            "connect", "--form", "2"), complete("dump", "--time", ""), "EXAMPLES" in page and "ktutils.lua" in page),
            ({self.path("list.crc")}, set("1234"), {"21", "22", "27", "28", "29"}, {"epoch", "iso", "relative", "delta"}, True))


class Verify(Case):
    @unittest.skipUnless(ENV("KTUTILS_SIGNATURE_FIXTURES"), "run by ctest, which makes the signature fixtures first")
    def test_trusted_only_when_signed_under_a_trusted_root_and_each_refusal_says_why(self):
        self.dir, ok = ENV("KTUTILS_SIGNATURE_FIXTURES"), "pe32-signed.exe: trusted\n"
        self.assertTrue(os.path.exists(self.path("complete")), "the signature fixtures are incomplete")
        no = lambda n, why, name: f"{n}: NOT trusted: {why} ({name})\n"  # noqa: E731
        bad = no("pe32.exe", "the file carries no signature, or one that cannot be read", "TRUST_E_NOSIGNATURE")
        root = "the signature chains to a root that is not trusted"
        der = tempfile.NamedTemporaryFile(suffix=".der")  # the fixtures' CA, as Windows exports a root
        der.write(base64.b64decode("".join(pathlib.Path(self.path("trusted-roots.pem")).read_text().splitlines()[1:-1]))), der.flush()
        # Each status's name and reason are the library's (tests/signature): here, that the tool prints them.
        rows = [("verify absent.exe pe32.exe roots-dir", 3, bad, "ktutils verify: absent.exe: No such file or directory\n"
                                                               "ktutils verify: roots-dir: Is a directory\n")]
        rows += [(f"verify --roots {r} pe32-signed.exe", c, o, e) for r, c, o, e in [
            ("trusted-roots.pem", 0, ok, ""), ("roots-dir", 0, ok, ""), (der.name, 0, ok, ""), ("absent.pem", 2, "", "--roots absent.pem: No such"),
            ("other-ca.pem", 1, no("pe32-signed.exe", root, "CERT_E_UNTRUSTEDROOT"), ""), *[(r, 2, "", f"--roots {r}: no certificate in it\n")
                                                                                        for r in ("/dev/null", "no-certs", "ca.key")]]]
        rows += [("verify --ui 1 --accept-provider-unknown pe32.exe", 1, bad, ""), ("verify pe32plus-signed.exe pe32.exe", 1,
                                                                                 "pe32plus-signed.exe: trusted\n" + bad, ""),
                 ("verify --json pe32.exe", 1, '{"path":"pe32.exe","trusted":false,"status":"0x800b0100","name":"TRUST_E_NOSIGNATURE",'
                                              '"reason":"the file carries no signature, or one that cannot be read"}\n', "")]
        # The fixtures' CA is the trusted root unless --roots names others.
        self.table(rows, env={"KTUTILS_TRUST_ROOTS": self.path("trusted-roots.pem")}, cwd=self.dir)
        self.table([("verify pe32.exe", 2, "", "ktutils verify: KTUTILS_TRUST_ROOTS /dev/null: no certificate in it\n")],
                   env={"KTUTILS_TRUST_ROOTS": "/dev/null"}, cwd=self.dir)

    @unittest.skipUnless(ENV("KTUTILS_PLANTED_PROVIDER"), "run by ctest, which names the test provider to plant")
    def test_a_provider_planted_in_the_working_folder_is_never_loaded(self):  # one that trusts everything
        f, self.dir = ENV("KTUTILS_SIGNATURE_FIXTURES"), tempfile.mkdtemp(dir=ENV("KTUTILS_SIGNATURE_FIXTURES"))  # exec allowed
        self.addCleanup(shutil.rmtree, self.dir), shutil.copy(ENV("KTUTILS_PLANTED_PROVIDER"), self.path("libwintrust.so"))
        rows = [("verify r.exe", 1, "r.exe: NOT trusted: the file is not a program image the trust service can judge "
                                  "(TRUST_E_SUBJECT_FORM_UNKNOWN)\n", ""),
                (f"verify {f}/pe32-signed.exe", 0, f"{f}/pe32-signed.exe: trusted\n", "")]
        for path in ({}, {"LD_LIBRARY_PATH": ":"}):  # an empty entry: the working folder
            self.write("r.exe", os.urandom(4096)), self.table(rows, env={"KTUTILS_TRUST_ROOTS": f"{f}/trusted-roots.pem", **path}, cwd=self.dir)


class Memcheck(Case):
    @unittest.skipUnless(ENV("KTUTILS_VALGRIND"), "run by ctest where valgrind is installed")
    def test_one_shot_commands_neither_leak_nor_touch_bad_memory(self):
        self.write("l", f"{adler(STREAM + PING[:3])}  d\n{adler(b'')}  d\nbad\n"), self.write("d", STREAM + PING[:3])
        self.write("c", make_capture("out_of_order_segment_waits_for_the_bytes_before_it"))
        self.table([("name error 17", 0, "KTERR_SERVERFULL\n", ""), ("dump --json d", 1, None, "truncated"),
                    ("crc -c --strict l", 1, "d: OK\nd: FAILED\n", "improperly"), ("marker write --info 3 d", 0, None, ""),
                    ("marker check d", 0, "d: OK\n", "")] + [("dump c", 0, None, "")] * (ENV("KTUTILS_CAPTURE_SUPPORT") == "1"),
                   cwd=self.dir, prefix=[ENV("KTUTILS_VALGRIND"), "--quiet", "--error-exitcode=99", "--leak-check=full",
                                         "--errors-for-leak-kinds=definite,indirect"])  # 99, which no row expects


if __name__ == "__main__":
    unittest.main(warnings="ignore")  # not the unclosed pipes of the processes stopped on purpose
