"""ktutils crc: checksums like sha256sum's, and --check of such a list."""
import os
import pty
import subprocess
import unittest
import zlib

from tool_harness import TIME_LIMIT, TOOL, FileTestCase, run

# The tool reads in pieces of this size; the sizes around it are where a
# piece boundary could drop or repeat bytes.
PIECE = 1024 * 1024


def line(data, name):
    return f"{zlib.adler32(data):08x}  {name}\n"


class CrcTestCase(FileTestCase):
    pass


class Checksums(CrcTestCase):
    def test_equal_zlib_adler32_at_every_size_and_across_piece_boundaries(self):
        sizes = [0, 1, 2, PIECE - 1, PIECE, PIECE + 1, 5 * PIECE + 3]
        files = [(self.write(f"f{size}", os.urandom(size)), size) for size in sizes]
        # All 0xFF: both sums of Adler-32 grow fastest, so a reduction
        # skipped at a piece boundary shows.
        files.append((self.write("ff", b"\xff" * (PIECE + 5553)), None))
        result = run("crc", *(path for path, _ in files))
        self.assertEqual(result.returncode, 0, result.stderr)
        expected = ""
        for path, _ in files:
            with open(path, "rb") as f:
                expected += line(f.read(), path)
        self.assertEqual(result.stdout, expected)
        self.assertEqual(result.stderr, "")

    def test_an_empty_file_has_the_start_value(self):
        result = run("crc", self.write("empty", b""))
        self.assertEqual(result.stdout, f"00000001  {self.path('empty')}\n")

    def test_dash_and_no_file_read_standard_input(self):
        data = os.urandom(PIECE + 17)
        self.assertEqual(run("crc", "-", stdin=data).stdout, line(data, "-").encode())
        self.assertEqual(run("crc", stdin=data).stdout, line(data, "-").encode())

    def test_an_unreadable_file_is_named_with_its_reason_and_the_others_still_print(self):
        good = self.write("good", b"abc")
        result = run("crc", self.path("absent"), self.dir.name, good)
        self.assertEqual(result.returncode, 3)
        self.assertEqual(result.stdout, line(b"abc", good))
        self.assertIn(f"{self.path('absent')}: No such file or directory", result.stderr)
        self.assertIn(f"{self.dir.name}: Is a directory", result.stderr)

    def test_names_with_newlines_or_backslashes_are_escaped_and_read_back(self):
        odd = self.write("new\nline\\back", b"odd")
        result = run("crc", odd)
        escaped = odd.replace("\\", "\\\\").replace("\n", "\\n")
        self.assertEqual(result.stdout, f"\\{zlib.adler32(b'odd'):08x}  {escaped}\n")
        check = run("crc", "--check", "-", stdin=result.stdout)
        self.assertEqual((check.returncode, check.stdout), (0, f"\\{escaped}: OK\n"))


class Check(CrcTestCase):
    def setUp(self):
        super().setUp()
        self.one = self.write("one", b"first")
        self.two = self.write("two", os.urandom(PIECE + 1))
        listing = run("crc", self.one, self.two).stdout
        self.list = self.write("list", listing.encode())

    def test_unchanged_files_are_ok(self):
        result = run("crc", "--check", self.list)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(result.stdout, f"{self.one}: OK\n{self.two}: OK\n")

    def test_a_changed_file_fails_and_the_rest_are_still_checked(self):
        with open(self.one, "ab") as f:
            f.write(b"!")
        result = run("crc", "-c", self.list)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, f"{self.one}: FAILED\n{self.two}: OK\n")
        self.assertIn("1 computed checksum did NOT match", result.stderr)

    def test_a_missing_file_fails_open_or_read_with_the_reason(self):
        os.remove(self.two)
        result = run("crc", "--check", self.list)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, f"{self.one}: OK\n{self.two}: FAILED open or read\n")
        self.assertIn(f"{self.two}: No such file or directory", result.stderr)

    def test_a_malformed_line_is_reported_by_number_and_fails_the_check(self):
        with open(self.list, "a") as f:
            f.write("# comments and blank lines are skipped\n\n")
            f.write(f"0123456  {self.one}\n")        # 7 digits
            f.write(f"0123456g  {self.one}\n")       # not hex
            f.write(f"01234567 {self.one}\n")        # one space
            f.write("01234567  \n")                  # no name
        result = run("crc", "--check", self.list)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, f"{self.one}: OK\n{self.two}: OK\n")
        for number in (5, 6, 7, 8):
            self.assertIn(f"{self.list}: line {number}: not a checksum line", result.stderr)
        self.assertNotIn("line 3", result.stderr)
        self.assertIn("4 lines are improperly formatted", result.stderr)

    def test_the_list_may_come_from_standard_input_with_uppercase_digits_and_crlf(self):
        listing = f"{zlib.adler32(b'first'):08X} *{self.one}\r\n"
        result = run("crc", "--check", "-", stdin=listing)
        self.assertEqual((result.returncode, result.stdout), (0, f"{self.one}: OK\n"))

    def test_a_list_without_checksum_lines_fails(self):
        result = run("crc", "--check", self.write("blank", b"\n# nothing\n"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("no checksum lines found", result.stderr)

    def test_an_unreadable_list_is_a_system_error_naming_it(self):
        result = run("crc", "--check", self.path("no-list"))
        self.assertEqual(result.returncode, 3)
        self.assertIn(f"{self.path('no-list')}: No such file or directory", result.stderr)

    def test_check_and_files_together_are_a_usage_error(self):
        self.assertEqual(run("crc", "--check", self.list, self.one).returncode, 2)


class Progress(CrcTestCase):
    def run_on_terminal(self, path):
        """Runs `crc path` with standard error on a pseudo-terminal."""
        controller, terminal = pty.openpty()
        try:
            process = subprocess.Popen([TOOL, "crc", path], stdout=subprocess.PIPE,
                                       stderr=terminal)
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
        finally:
            os.close(controller)
        stdout, _ = process.communicate(timeout=TIME_LIMIT)
        return process.returncode, stdout.decode(), shown

    def test_a_large_file_shows_a_bar_on_a_terminal_and_erases_it(self):
        size = 64 * PIECE + 1  # just over the threshold; sparse, so quick to make
        path = self.path("large")
        with open(path, "wb") as f:
            f.truncate(size)
        status, stdout, shown = self.run_on_terminal(path)
        self.assertEqual((status, stdout), (0, line(bytes(size), path)))
        self.assertIn(b"100%", shown)
        self.assertTrue(shown.endswith(b"\r\x1b[K"), shown[-40:])
        # Not on a pipe, whatever the size.
        self.assertEqual(run("crc", path).stderr, "")

    def test_a_small_file_shows_nothing_even_on_a_terminal(self):
        path = self.path("small")
        with open(path, "wb") as f:
            f.truncate(64 * PIECE)
        status, _, shown = self.run_on_terminal(path)
        self.assertEqual((status, shown), (0, b""))


if __name__ == "__main__":
    unittest.main()
