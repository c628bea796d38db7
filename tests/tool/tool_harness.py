"""Runs the ktutils tool for the tool tests: one-shot commands, and a
reference server in the background that is always stopped afterwards.

The tool is named by the KTUTILS_TOOL environment variable (ctest sets it).
"""
import os
import re
import queue
import subprocess
import tempfile
import threading
import time
import unittest

TOOL = os.environ.get("KTUTILS_TOOL", "ktutils")
DATA_DIR = os.environ.get("KTUTILS_TEST_DATA_DIR",
                          os.path.join(os.path.dirname(__file__), ".."))

# Every process of a test ends within this many seconds or the test fails.
TIME_LIMIT = 20


def run(*args, stdin=None, env=None, cwd=None):
    """Runs `ktutils args...` and returns the CompletedProcess (text).

    `env` adds to the environment rather than replacing it."""
    environment = None if env is None else {**os.environ, **env}
    return subprocess.run([TOOL, *map(str, args)], input=stdin, capture_output=True,
                          timeout=TIME_LIMIT, text=not isinstance(stdin, bytes),
                          env=environment, cwd=cwd)


def golden_frames():
    """The 23 frames of tests/golden/messages.hex, by encoder name, in file order."""
    frames, name = {}, None
    with open(os.path.join(DATA_DIR, "golden", "messages.hex"), encoding="ascii") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("["):
                name = line.strip("[]")
                frames[name] = bytearray()
            else:
                frames[name] += bytes.fromhex(line)
    return {k: bytes(v) for k, v in frames.items()}


class Server:
    """`ktutils serve --port 0 ...` in the background; use as a context manager."""

    def __init__(self, *args, preexec_fn=None):
        self.args = [TOOL, "serve", "--port", "0", *map(str, args)]
        self.preexec_fn = preexec_fn  # e.g. to lower the server's limits
        self.process = None
        self.port = None
        self.lines = []

    def __enter__(self):
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True,
                                        preexec_fn=self.preexec_fn)
        # A reader thread, so that waiting for a line can time out.
        self.queue = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        first = self.readline()
        match = re.search(r"listening on 127\.0\.0\.1:(\d+)$", first)
        if not match:
            self.stop()
            raise AssertionError(f"server did not start: {first!r}")
        self.port = int(match.group(1))
        return self

    def __exit__(self, *exc):
        self.stop()

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"

    def _read(self):
        for line in self.process.stdout:
            self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def readline(self, timeout=TIME_LIMIT):
        try:
            line = self.queue.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("server printed nothing in time") from None
        if line is None:
            raise AssertionError("server ended: " + self.process.stderr.read())
        self.lines.append(line)
        return line

    def wait_for(self, pattern, timeout=TIME_LIMIT):
        """Reads server lines until one matches `pattern`; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.readline(max(0.0, deadline - time.monotonic()))
            if re.search(pattern, line):
                return line

    def stop(self):
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(timeout=TIME_LIMIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.reader.join(TIME_LIMIT)
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode


def connect(address, *args):
    return run("connect", address, *args)


def start_connect(address, *args):
    """A client in the background, for the cases that need one held open."""
    return subprocess.Popen([TOOL, "connect", address, *map(str, args)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


class FileTestCase(unittest.TestCase):
    """A test with a fresh folder of its own, removed afterwards."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, data):
        """Writes `data` (bytes) to `name` in the folder; returns its path."""
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)
