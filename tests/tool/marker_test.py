"""ktutils marker write|read|check: the .crc files beside files."""
import os
import struct
import unittest
import zlib

from tool_harness import FileTestCase, run


class MarkerTestCase(FileTestCase):
    def marker_bytes(self, path):
        with open(path + ".crc", "rb") as f:
            return f.read()


class Write(MarkerTestCase):
    def test_stores_the_contents_checksum_little_endian_in_four_bytes(self):
        data = os.urandom(3 * 1024 * 1024 + 7)
        path = self.write("data", data)
        result = run("marker", "write", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, f"{path}: marker written, {zlib.adler32(data):08x}\n")
        self.assertEqual(self.marker_bytes(path), struct.pack("<I", zlib.adler32(data)))

    def test_info_writes_the_eight_byte_form_and_a_plain_write_goes_back_to_four(self):
        path = self.write("data", b"payload")
        checksum = zlib.adler32(b"payload")
        for info in ("-1", "2147483647"):
            result = run("marker", "write", "--info", info, path)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout,
                             f"{path}: marker written, {checksum:08x}, info {info}\n")
            self.assertEqual(self.marker_bytes(path),
                             struct.pack("<Ii", zlib.adler32(b"payload"), int(info)))
        run("marker", "write", path)
        self.assertEqual(self.marker_bytes(path), struct.pack("<I", zlib.adler32(b"payload")))

    def test_info_outside_32_bits_is_a_usage_error(self):
        path = self.write("data", b"x")
        result = run("marker", "write", "--info", "2147483648", path)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--info", result.stderr)
        self.assertFalse(os.path.exists(path + ".crc"))

    def test_no_marker_for_what_cannot_be_read_and_the_other_files_still_get_theirs(self):
        good = self.write("good", b"good")
        os.mkdir(self.path("folder"))
        result = run("marker", "write", self.path("absent"), self.path("folder"), good)
        self.assertEqual(result.returncode, 3)
        self.assertIn(f"{self.path('absent')}: No such file or directory", result.stderr)
        self.assertIn(f"{self.path('folder')}: not a regular file", result.stderr)
        self.assertFalse(os.path.exists(self.path("absent.crc")))
        self.assertFalse(os.path.exists(self.path("folder.crc")))
        self.assertEqual(self.marker_bytes(good), struct.pack("<I", zlib.adler32(b"good")))

    def test_a_marker_name_held_by_a_folder_is_an_error_not_a_success(self):
        path = self.write("blocked", b"blocked")
        os.mkdir(path + ".crc")
        result = run("marker", "write", path)
        self.assertEqual((result.returncode, result.stdout), (3, ""))
        self.assertIn(f"{path}.crc: cannot be opened for writing", result.stderr)
        self.assertTrue(os.path.isdir(path + ".crc"))


class ReadAndCheck(MarkerTestCase):
    def test_round_trip_write_read_check(self):
        data = os.urandom(100_000)
        path = self.write("data", data)
        self.assertEqual(run("marker", "write", path).returncode, 0)
        read = run("marker", "read", path)
        self.assertEqual((read.returncode, read.stdout), (0, f"{path}: {zlib.adler32(data):08x}\n"))
        check = run("marker", "check", path)
        self.assertEqual((check.returncode, check.stdout), (0, f"{path}: OK\n"))

    def test_a_file_changed_after_its_marker_is_stale_with_both_checksums(self):
        path = self.write("data", b"before")
        run("marker", "write", path)
        self.write("data", b"after!")
        result = run("marker", "check", path)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, f"{path}: STALE (marker {zlib.adler32(b'before'):08x}, "
                                        f"contents {zlib.adler32(b'after!'):08x})\n")
        # The marker itself is left alone.
        self.assertEqual(self.marker_bytes(path), struct.pack("<I", zlib.adler32(b"before")))

    def test_no_marker_reads_as_none_and_checks_as_missing(self):
        path = self.write("bare", b"bare")
        read = run("marker", "read", path)
        self.assertEqual((read.returncode, read.stdout), (1, f"{path}: no marker\n"))
        check = run("marker", "check", path)
        self.assertEqual((check.returncode, check.stdout), (1, f"{path}: MISSING (no marker)\n"))

    def test_a_marker_is_read_by_its_size_and_any_other_size_is_malformed(self):
        checksum = struct.pack("<I", zlib.adler32(b"zero"))
        for stored, size, shown in [(b"\0\0\0\0", 4, "00000000"),
                                    (checksum + b"\xff" * 4, 8, f"{zlib.adler32(b'zero'):08x}"),
                                    (b"", 0, None), (checksum[:3], 3, None),
                                    (checksum + b"\0", 5, None), (None, 5 << 30, None)]:
            path = self.write("zero", b"zero")
            with open(path + ".crc", "wb") as f:
                f.write(stored) if stored is not None else f.truncate(size)
            read, check = run("marker", "read", path), run("marker", "check", path)
            if shown is None:
                malformed = f"{path}: MALFORMED (marker of {size} bytes, not 4 or 8)\n"
                self.assertEqual((read.returncode, read.stdout), (1, malformed), size)
                self.assertEqual((check.returncode, check.stdout), (1, malformed), size)
            else:
                self.assertEqual((read.returncode, read.stdout), (0, f"{path}: {shown}\n"), size)
                self.assertEqual(check.returncode, 0 if size == 8 else 1, size)

    def test_a_marker_that_does_not_open_is_a_system_error_with_its_reason(self):
        path = self.write("data", b"data")
        os.symlink(os.path.basename(path) + ".crc", path + ".crc")  # a loop
        for action in ("read", "check"):
            result = run("marker", action, path)
            self.assertEqual((result.returncode, result.stdout), (3, ""), action)
            self.assertIn(f"ktutils marker {action}: {path}.crc: Too many levels of symbolic links",
                          result.stderr)

    def test_a_folder_under_the_markers_name_is_no_marker(self):
        path = self.write("data", b"data")
        os.mkdir(path + ".crc")
        self.assertEqual(run("marker", "read", path).stdout, f"{path}: no marker\n")

    def test_several_files_answer_in_order_and_the_worst_status_wins(self):
        ok = self.write("ok", b"ok")
        stale = self.write("stale", b"stale")
        bare = self.write("bare", b"bare")
        run("marker", "write", ok, stale)
        self.write("stale", b"STALE")
        result = run("marker", "check", ok, stale, bare)
        self.assertEqual(result.returncode, 1)
        self.assertEqual([l.split(": ")[1].split(" ")[0] for l in result.stdout.splitlines()],
                         ["OK", "STALE", "MISSING"])
        # A file that cannot be read outranks a negative answer.
        result = run("marker", "check", stale, self.path("absent"))
        self.assertEqual(result.returncode, 3)
        result = run("marker", "read", bare, self.path("absent"))
        self.assertEqual(result.returncode, 3)
        self.assertIn(f"{self.path('absent')}: No such file or directory", result.stderr)

    def test_marker_needs_an_action_and_a_file(self):
        self.assertEqual(run("marker").returncode, 2)
        self.assertEqual(run("marker", "read").returncode, 2)
        self.assertEqual(run("marker", "erase", "x").returncode, 2)


if __name__ == "__main__":
    unittest.main()
