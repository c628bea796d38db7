"""ktutils crc: sha256sum with Adler-32. Most cases run GNU sha256sum and
the tool side by side on the same files and lists (the cases of coreutils'
own md5sum/sha*sum/cksum tests) and expect the same output, warnings and
exit status; the rest cover what only the tool does."""
import hashlib
import os
import pty
import shutil
import signal
import subprocess
import tempfile
import unittest
import zlib

from tool_harness import TIME_LIMIT, TOOL, FileTestCase, run

# The tool reads in pieces of this size; the sizes around it are where a
# piece boundary could drop or repeat bytes.
PIECE = 1024 * 1024
GNU = shutil.which("sha256sum")


def adler(data):
    return f"{zlib.adler32(data):08x}"


def line(data, name):
    return f"{adler(data)}  {name}\n"


class Digests:
    """h('f') is the digest of file f in the algorithm of one side; h.bad a
    wrong one of the right length; h.tag the algorithm's name."""

    def __init__(self, folder, digest, tag):
        self.folder, self.digest, self.tag = folder, digest, tag
        self.bad = digest(b"not the contents")

    def __call__(self, name):
        with open(os.path.join(self.folder, name), "rb") as f:
            return self.digest(f.read())


BACKSLASH, NEWLINE, TAB = "a\\b", "a\nb", "a\tb"
# The files most cases use; g's Adler-32, dfecba89, holds every letter digit.
F = {"f": b"", "g": b"\xfe" * 188}
# (case, arguments, files, lists: name -> text(h), standard input: text(h) or None)
SAME_AS_GNU = [
    ("check-1", ["-c", "l"], F, {"l": lambda h: f"{h('f')}  f\n"}, None),
    ("check-windows", ["-c", "l"], F, {"l": lambda h: f"{h('f')}  f\r\n"}, None),
    ("ck-strict-1", ["-c", "--strict", "l"], F, {"l": lambda h: f"{h('f')}  f\n\n"}, None),
    ("ck-strict-2", ["-c", "--strict", "l"], F, {"l": lambda h: f"ERR\n{h('f')}  f\n"}, None),
    ("malformed-passes", ["-c", "l"], F,
     {"l": lambda h: f"ERR\n{h('f')}  f\nbad\n{'z' * len(h.bad)}  f\n"}, None),
    ("check-2-status", ["-c", "--status", "l"], F, {"l": lambda h: f"{h('g')}  f\n"}, None),
    ("check-quiet1", ["-c", "--quiet", "l"], F, {"l": lambda h: f"{h('f')}  f\n"}, None),
    ("check-quiet2", ["-c", "--quiet", "l"], F, {"l": lambda h: f"{h('g')}  f\n"}, None),
    ("check-multifail", ["-c", "l"], F,
     {"l": lambda h: f"{h('g')}  f\n{h('g')}  f\ninvalid\n"}, None),
    ("check-multifail-warn", ["-c", "--warn", "l"], F,
     {"l": lambda h: f"{h('g')}  f\n{h('g')}  f\ninvalid\n"}, None),
    ("check-multifail-state", ["-c", "-w", "l"], F,
     {"l": lambda h: f"{h('f')}  f\n{h('f')}  g\n{h('f')}  f\n"}, None),
    ("check-bsd2", ["-c", "l"], F, {"l": lambda h: f"{h.tag} (f) = {h('f')}\n"}, None),
    ("check-bsd3", ["-c", "--status", "l"], F, {"l": lambda h: f"{h.tag} (f) = {h('g')}\n"}, None),
    ("check-openssl2", ["-c", "l"], F, {"l": lambda h: f"{h.tag}(f)= {h('f')}\n"}, None),
    ("bsd-segv", ["-c", "z"], F, {"z": lambda h: f"{h.tag} ("}, None),
    ("nul-in-cksum", ["-c", "l"], F, {"l": lambda h: "\0" * len(h.bad) + "  f\n"}, None),
    ("ignore-missing-1", ["-c", "--ignore-missing", "l"], F,
     {"l": lambda h: f"{h('f')}  f\n{h('f')}  f.missing\n"}, None),
    ("ignore-missing-3", ["-c", "--quiet", "--ignore-missing", "l"], F,
     {"l": lambda h: f"{h('f')}  missing/f\n{h('f')}  f\n"}, None),
    ("ignore-missing-5", ["-c", "--ignore-missing", "l"], F,
     {"l": lambda h: f"{h('f')}  missing\n"}, None),
    ("missing-file", ["-c", "l"], F, {"l": lambda h: f"{h('f')}  nonexistent\n"}, None),
    ("several-lists", ["-c", "l", "m", "absent", "empty"], F,
     {"l": lambda h: f"{h('f')}  f\nbad\n", "m": lambda h: f"{h('f')}  g\n",
      "empty": lambda h: ""}, None),
    ("status-then-warn", ["-c", "--status", "--warn", "l"], F,
     {"l": lambda h: f"bad\n{h.bad}  f\n"}, None),
    ("warn-then-status", ["-c", "--warn", "--status", "l"], F,
     {"l": lambda h: f"bad\n{h.bad}  f\n"}, None),
    ("status-ignore-missing-warn", ["--status", "--warn", "--ignore-missing", "-c", "l"], F,
     {"l": lambda h: f"{h.bad}  nonexistent\n"}, None),
    ("plurals", ["-c", "--strict", "l"], F,
     {"l": lambda h: f"x\ny\n{h.bad}  f\n{h.bad}  g\n{h('f')}  absent\n{h('f')}  gone\n"}, None),
    ("signed-list-and-comments", ["-c", "l"], F,
     {"l": lambda h: "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n# a comment\n"
                     f"{h('f')}  f\n-----BEGIN PGP SIGNATURE-----\n\nxyz=\n"}, None),
    ("leading-blanks-and-backslash", ["-c", "--strict", "l"], F,
     {"l": lambda h: f" \\{h('f')}  f\n\t{h.tag} (g) = {h('g')}\n"}, None),
    ("uppercase-and-binary-mark", ["-c", "l"], F, {"l": lambda h: f"{h('g').upper()} *g\n"}, None),
    ("stdin-list", ["-c"], F, None, lambda h: f"{h('f')}  f\n"),
    ("stdin-list-dash", ["-c", "-"], F, None, lambda h: f"{h('f')}  f\n{h('f')}  -\n"),
    # md5sum-bsd: names that look like marks, in each layout; one layout a list.
    ("bsd-names", ["-c", "--strict", "two", "tag"], {n: n.encode() for n in ("a", " b", "*c", "dd", " ")},
     {"two": lambda h: "".join(f"{h(n)}  {n}\n" for n in ("a", " b", "*c", "dd", " ")),
      "tag": lambda h: "".join(f"{h.tag} ({n}) = {h(n)}\n" for n in ("a", " b", "*c", "dd", " "))},
     None),
    ("bsd-reversed", ["-c", "--strict", "rev"], {n: n.encode() for n in ("a", " b", "*c", "dd")},
     {"rev": lambda h: "".join(f"{h(n)} {n}\n" for n in ("a", " b", "*c", "dd"))}, None),
    ("bsd-reversed-cut", ["-c", "--strict", "rev"], {n: n.encode() for n in (" b", "*c", "dd")},
     {"rev": lambda h: "".join(f"{h(n)} {n}\n" for n in (" b", "*c", "dd"))}, None),
    ("not-all-hex-first", ["-c", "l"], F,
     {"l": lambda h: f"____not_all_hex_so_no_match_____ blah\n{h('f')}  f\n"}, None),
    ("escaped-names", ["-c", "l"], {BACKSLASH: b"", NEWLINE: b"", TAB: b"x"},
     {"l": lambda h: f"\\{h(BACKSLASH)}  a\\\\b\n\\{h.tag} (a\\nb) = {h(NEWLINE)}\n"
                     f"{h.tag} ({TAB}) = {h(TAB)}\n"}, None),
    ("awkward-tagged-name", ["-c", "l"], {"abc (f) = abc": b"q"},
     {"l": lambda h: f"{h.tag} (abc (f) = abc) = {h('abc (f) = abc')}\n"}, None),
    ("print-escaped", [".\nfoo", ".\\foo", ".\rfoo"], {".\nfoo": b"", ".\\foo": b"", ".\rfoo": b""},
     {}, None),
    ("print-tag", ["--tag", "f", "test\n\\file"], {"f": b"abc", "test\n\\file": b""}, {}, None),
    ("print-zero", ["-z", "a\nb", "f"], {"a\nb": b"", "f": b"x"}, {}, None),
    ("print-binary-text", ["-t", "-b", "f", "--tag", "g"], F, {}, None),
    ("print-missing-quoted", ["f", "no such", "it's", "a'$b", "a:b", "#c", "d#", "=", "{", "{e",
                              "x\ny\tz", "\x1b[1m", "café", os.fsdecode(b"\xff"), ""], F, {}, None),
    ("stdin-empty-list", ["-c"], F, None, lambda h: ""),
    ("print-stdin", [], F, None, lambda h: "data"),
    ("tag-check", ["--tag", "-c", "l"], F, {"l": lambda h: ""}, None),
    ("tag-text", ["--tag", "-t", "f"], F, {}, None),
    ("zero-check", ["-z", "-c", "l"], F, {"l": lambda h: ""}, None),
    ("binary-check", ["-b", "-c", "l"], F, {"l": lambda h: ""}, None),
    ("ignore-missing-4", ["--ignore-missing", "f"], F, {}, None),
    ("strict-without-check", ["--strict", "f"], F, {}, None),
]


@unittest.skipIf(GNU is None, "GNU sha256sum is not installed: nothing to compare with")
class SameAsSha256sum(unittest.TestCase):
    def side(self, program, digests, case, executable=None):
        _, args, files, lists, stdin = case
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        h = Digests(folder, *digests)
        for name, text in (lists or {}).items():
            with open(os.path.join(folder, name), "w", encoding="utf-8", newline="") as f:
                f.write(text(h))
        # C.UTF-8: GNU shows UTF-8 names as they are only in a UTF-8 locale.
        result = subprocess.run([*program, *args], executable=executable, cwd=folder,
                                capture_output=True, env={**os.environ, "LC_ALL": "C.UTF-8"},
                                input=None if stdin is None else stdin(h).encode(),
                                timeout=TIME_LIMIT)
        return result.returncode, result.stdout, result.stderr

    def test_output_warnings_and_status_match_sha256sum_case_by_case(self):
        for case in SAME_AS_GNU:
            with self.subTest(case[0]):
                gnu_status, gnu_out, gnu_err = self.side(
                    ["sha256sum"], (lambda d: hashlib.sha256(d).hexdigest(), "SHA256"), case, GNU)
                status, out, err = self.side([TOOL, "crc"], (adler, "ADLER32"), case)
                gnu_err = gnu_err.replace(b"sha256sum", b"ktutils crc").replace(b"SHA256", b"ADLER32")
                self.assertEqual(err, gnu_err)
                # Digests differ by algorithm: compare the lines with them
                # replaced by the other side's.
                self.assertEqual(out, self.translate(gnu_out, case))
                # Usage errors are 2 and unreadable files or lists 3 in
                # every ktutils command; GNU says 1 for both.
                self.assertEqual(gnu_status, 1 if status in (2, 3) else status)
                if status in (2, 3):
                    expect = 2 if b"--help" in err else 3
                    self.assertEqual(status, expect)

    def translate(self, gnu_out, case):
        _, _, files, _, stdin = case
        sources = list(files.values()) + [b"data", b"not the contents"]
        for data in sources:
            gnu_out = gnu_out.replace(hashlib.sha256(data).hexdigest().encode(), adler(data).encode())
        return gnu_out.replace(b"SHA256", b"ADLER32")


class Checksums(FileTestCase):
    def test_equal_zlib_adler32_at_every_size_and_across_piece_boundaries(self):
        sizes = [0, 1, 2, PIECE - 1, PIECE, PIECE + 1, 5 * PIECE + 3]
        files = [self.write(f"f{size}", os.urandom(size)) for size in sizes]
        # All 0xFF: both sums of Adler-32 grow fastest, so a reduction
        # skipped at a piece boundary shows.
        files.append(self.write("ff", b"\xff" * (PIECE + 5553)))
        files.append(self.write("digest", b"message digest"))
        result = run("crc", *files)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        expected = ""
        for path in files:
            with open(path, "rb") as f:
                expected += line(f.read(), path)
        self.assertEqual(result.stdout, expected)

    def test_dash_twice_reads_what_remains_of_standard_input(self):
        data = os.urandom(PIECE + 17)
        result = run("crc", "-", "-", stdin=data)
        self.assertEqual(result.stdout, (line(data, "-") + line(b"", "-")).encode())


class ListLines(FileTestCase):
    """Where the tool parts from sha256sum on purpose: lines no list holds."""

    def check(self, listing):
        self.write("f", b"abc")
        return run("crc", "-c", "-w", self.write("list", listing), cwd=self.dir.name)

    def test_a_nul_byte_or_an_overlong_line_is_malformed_and_the_rest_still_checked(self):
        good = f"{adler(b'abc')}  f\n".encode()
        for bad in [f"{adler(b'abc')}  f\0junk\n".encode(),
                    f"{adler(b'abc')}  ".encode() + b"f" * (64 * 1024) + b"\n"]:
            result = self.check(bad + good)
            self.assertEqual((result.returncode, result.stdout), (0, "f: OK\n"))
            self.assertIn(": 1: improperly formatted ADLER32 checksum line", result.stderr)
        # Just under the limit the line is read, and names a file that is not there.
        result = self.check(f"{adler(b'abc')}  ".encode() + b"f" * (64 * 1024 - 10) + b"\n")
        self.assertIn("FAILED open or read", result.stdout)


class Progress(FileTestCase):
    def run_on_terminal(self, *args, term="xterm", interrupt=False):
        """Runs `crc args` with standard error on a pseudo-terminal."""
        controller, terminal = pty.openpty()
        try:
            process = subprocess.Popen([TOOL, "crc", *args], stdout=subprocess.PIPE,
                                       stderr=terminal, env={**os.environ, "TERM": term})
        finally:
            os.close(terminal)
        shown = b""
        try:
            while True:
                try:
                    chunk = os.read(controller, 4096)
                except OSError:  # EIO: the tool has gone and closed its end
                    break
                if not chunk:
                    break
                shown += chunk
                if interrupt and b"%" in shown:
                    process.send_signal(signal.SIGINT)
                    interrupt = False
        finally:
            os.close(controller)
        stdout, _ = process.communicate(timeout=TIME_LIMIT)
        return process.returncode, stdout.decode(), shown

    def sparse(self, size):
        path = self.path(f"sparse{size}")
        with open(path, "wb") as f:
            f.truncate(size)
        return path

    def test_a_bar_is_drawn_only_when_asked_for_or_large_on_a_capable_terminal(self):
        large, small = self.sparse(64 * PIECE + 1), self.sparse(64 * PIECE)
        for args, term, drawn, escapes in [
                ([large], "xterm", True, True),
                ([small], "xterm", False, False),
                ([large], "dumb", False, False),
                (["--no-progress", large], "xterm", False, False),
                (["--progress", small], "dumb", True, False),
                (["--progress", small], "xterm", True, True)]:
            status, stdout, shown = self.run_on_terminal(*args, term=term)
            self.assertEqual((status, stdout), (0, line(bytes(os.path.getsize(args[-1])), args[-1])))
            self.assertEqual(b"100%" in shown, drawn, (args, term))
            self.assertEqual(b"\x1b" in shown, escapes, (args, term))
            if drawn:  # erased at the end, so results start on a clean line
                self.assertTrue(shown.endswith(b"\r\x1b[K" if escapes else b" \r"), shown[-40:])
        # Not on a pipe, whatever the size, unless asked for.
        self.assertEqual(run("crc", large).stderr, "")
        self.assertIn("100%", run("crc", "--progress", small).stderr)

    def test_an_interrupt_erases_the_bar_before_the_tool_dies(self):
        big = self.sparse(4096 * PIECE)
        status, _, shown = self.run_on_terminal(big, interrupt=True)
        self.assertEqual(status, -signal.SIGINT)
        self.assertTrue(shown.endswith(b"\r\x1b[K"), shown[-40:])


if __name__ == "__main__":
    unittest.main()
