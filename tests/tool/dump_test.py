"""ktutils dump: every message type decoded, and damaged streams reported by
offset with a non-zero exit, never a crash. The streams are built from the
golden bytes, independently of the encoders."""
import json
import os
import select
import signal
import struct
import subprocess
import tempfile
import unittest

from tool_harness import TIME_LIMIT, TOOL, golden_frames, run

FRAMES = golden_frames()
STREAM = b"".join(FRAMES.values())


def offsets(frames):
    """The offset of each frame in the concatenation of `frames`."""
    result, at = [], 0
    for frame in frames:
        result.append(at)
        at += len(frame)
    return result


def frame(type_, payload, form=0):
    return struct.pack("<IHBB", len(payload), type_, 0, form) + payload


class DumpFile(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.directory = directory.name

    def write(self, data, name="stream.bin"):
        path = os.path.join(self.directory, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def dump(self, data, *args):
        return run("dump", self.write(data), *args)


class AllTypes(DumpFile):
    def test_one_line_per_message_with_offset_and_name_in_stream_order(self):
        result = self.dump(STREAM)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 23)
        self.assertEqual(len(FRAMES), 23)
        for line, at, data in zip(lines, offsets(FRAMES.values()), FRAMES.values()):
            type_ = struct.unpack_from("<H", data, 4)[0]
            name = run("name", "message", type_).stdout.strip()
            self.assertTrue(line.startswith(f"@{at} {name}"), (line, at, name))

    def test_every_field_is_decoded_in_text(self):
        lines = {line.split()[1]: line for line in self.dump(STREAM).stdout.splitlines()}
        expect = {
            "KTMESSAGETYPE2_CONNECTED":
                "value32=0x01020304 modules=[00000001-00000002/0,00000003-00000004/255]",
            # The 32-bit value is first on the wire and must not land in the 16-bit field.
            "KTMESSAGETYPE2_CONNECTEDDUAL": "value32=0x01020304 value16=48879 modules=[",
            "KTMESSAGETYPE2_CHALLENGE": "challenge=0x12345678",
            "KTMESSAGETYPE2_CHALLENGECONNECT":
                'challenge=0x12345678 string1="player" string2="s3cret" version=1.2.3.4 '
                "modules=[11111111-22222222:65538,aaaaaaaa-bbbbbbbb:7]",
            "KTMESSAGETYPE2_CHALLENGECONNECTEX":
                'block1=000102030405060708090a0b0c0d0e0f string1="player" '
                "block2=f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff version=1.2.3.4",
            "KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED": "challenge=0x12345678 version=1.2.3.4 modules=",
            "KTMESSAGETYPE2_SERVERINFO": "value16=27015 moduleIds=[deadbeef-cafef00d]",
            "KTMESSAGETYPE2_SERVERDENIED": "reason=9",
            "KTMESSAGETYPE2_BADVERSION": "version=1.2.3.4",
            "KTMESSAGETYPE2_BADMODULE": "modules=[11111111-22222222:65538,aaaaaaaa-bbbbbbbb:7]",
        }
        for name, fields in expect.items():
            self.assertIn(fields, lines[name], name)
        self.assertEqual(lines["KTMESSAGETYPE2_PING"].split()[2:], [])

    def test_json_lines_carry_the_same_fields_as_values(self):
        result = self.dump(STREAM, "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        objects = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([o["offset"] for o in objects], offsets(FRAMES.values()))
        by_name = {o["name"]: o for o in objects}
        self.assertEqual(by_name["KTMESSAGETYPE2_CONNECTEDDUAL"]["value16"], 0xBEEF)
        self.assertEqual(by_name["KTMESSAGETYPE2_CONNECTEDDUAL"]["value32"], 0x01020304)
        self.assertEqual(by_name["KTMESSAGETYPE2_CHALLENGECONNECTDUAL"]["string2"], "s3cret")
        self.assertEqual(by_name["KTMESSAGETYPE2_BADMODULE"]["modules"],
                         [{"id": "11111111-22222222", "version": 65538},
                          {"id": "aaaaaaaa-bbbbbbbb", "version": 7}])
        self.assertEqual(by_name["KTMESSAGETYPE2_CONNECTED"]["modules"][1],
                         {"id": "00000003-00000004", "state": 255})
        self.assertEqual(by_name["KTMESSAGETYPE2_SHUTDOWN"],
                         {"offset": by_name["KTMESSAGETYPE2_SHUTDOWN"]["offset"], "type": 16,
                          "name": "KTMESSAGETYPE2_SHUTDOWN"})

    def test_standard_input_reads_like_a_file(self):
        from_file = self.dump(STREAM)
        from_stdin = run("dump", "-", stdin=STREAM)
        self.assertEqual(from_stdin.returncode, 0)
        self.assertEqual(from_stdin.stdout.decode(), from_file.stdout)

    def test_a_long_stream_crosses_read_pieces_without_losing_a_frame(self):
        # 7-byte-payload frames never align with the reader's 64 KiB pieces.
        one = frame(20, b"\x01\x02\x03\x04xyz")
        result = self.dump(one * 40000)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 40000)
        self.assertEqual(lines[-1], f"@{15 * 39999} KTMESSAGETYPE2_CHALLENGE challenge=0x04030201 trailing=true")

    def test_a_reader_that_stops_early_ends_the_dump_at_once(self):
        # `dump big | head -1`: the next write after head has gone raises
        # SIGPIPE, so the tool does not decode the rest (1M frames here).
        path = self.write(frame(17, b"") * 1_000_000)
        process = subprocess.Popen([TOOL, "dump", path], stdout=subprocess.PIPE)
        first = process.stdout.readline()
        process.stdout.close()
        self.assertEqual(process.wait(timeout=TIME_LIMIT), -signal.SIGPIPE)
        self.assertEqual(first, b"@0 KTMESSAGETYPE2_PING\n")

    def test_a_live_capture_through_a_pipe_is_shown_message_by_message(self):
        process = subprocess.Popen([TOOL, "dump", "-"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE)
        self.addCleanup(process.wait, TIME_LIMIT)
        self.addCleanup(process.stdin.close)
        process.stdin.write(frame(17, b""))
        process.stdin.flush()
        # Read while the capture is still open: a buffered line would block.
        ready, _, _ = select.select([process.stdout], [], [], TIME_LIMIT)
        self.assertTrue(ready, "no line while the capture was open")
        self.assertEqual(process.stdout.readline(), b"@0 KTMESSAGETYPE2_PING\n")
        process.stdout.close()

    def test_an_empty_stream_prints_nothing(self):
        result = self.dump(b"")
        self.assertEqual((result.returncode, result.stdout), (0, ""))


class DamagedStreams(DumpFile):
    def test_truncated_inside_the_last_payload_reports_that_frame_offset(self):
        result = self.dump(STREAM + FRAMES["WriteChallengeConnect2"][:-1])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(result.stdout.splitlines()), 23)
        self.assertIn(f"offset {len(STREAM)}: truncated", result.stderr)
        self.assertIn("stream.bin", result.stderr)

    def test_truncated_inside_a_header_reports_where_the_header_starts(self):
        result = self.dump(STREAM + b"\x04\x00\x00")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(result.stdout.splitlines()), 23)
        self.assertIn(f"offset {len(STREAM)}: truncated message (3 bytes", result.stderr)

    def test_a_malformed_header_stops_the_dump_at_its_offset(self):
        first = frame(17, b"")
        bad = frame(20, b"\x00" * 4, form=5)
        result = self.dump(first + bad + first)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), ["@0 KTMESSAGETYPE2_PING"])
        self.assertIn("offset 8: malformed frame", result.stderr)

    def test_a_declared_length_above_the_limit_is_refused_without_reading_on(self):
        huge = struct.pack("<IHBB", 0x7FFFFFFF, 14, 0, 0)
        result = self.dump(frame(17, b"") + huge)
        self.assertEqual(result.returncode, 1)
        self.assertIn("offset 8: malformed frame", result.stderr)

    def test_a_payload_that_ends_inside_a_list_element_is_flagged_and_dumping_goes_on(self):
        # Connected: U32 value, then one whole 9-byte element and 4 bytes of the next.
        damaged = frame(14, struct.pack("<IIIB", 7, 1, 2, 3) + b"\x05\x00\x00\x00")
        result = self.dump(damaged + frame(17, b""))
        self.assertEqual(result.returncode, 1)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 2)
        self.assertIn("modules=[00000001-00000002/3]", lines[0])
        self.assertIn('error="payload ends inside a field"', lines[0])
        self.assertEqual(lines[1], f"@{len(damaged)} KTMESSAGETYPE2_PING")
        self.assertIn("offset 0: KTMESSAGETYPE2_CONNECTED payload ends inside a field", result.stderr)

    def test_a_type_outside_the_set_is_shown_by_number(self):
        result = self.dump(frame(300, b"ab"))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, "@0 UNKNOWN_MESSAGE type=300 trailing=true\n")

    def test_strings_with_control_bytes_stay_on_one_line(self):
        payload = struct.pack("<I", 1) + b"a\nb\"\x01\x00" + b"\x00" + bytes([1, 2, 3, 4])
        result = self.dump(frame(21, payload))
        self.assertEqual(result.returncode, 0)
        self.assertIn(r'string1="a\x0ab\"\x01" string2=""', result.stdout)
        self.assertEqual(len(result.stdout.splitlines()), 1)

    def test_json_stays_valid_when_a_string_is_not_utf8(self):
        payload = struct.pack("<I", 1) + b"\xff\xfe\x00ok\x00" + bytes([1, 2, 3, 4])
        result = self.dump(frame(21, payload), "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        message = json.loads(result.stdout)
        self.assertEqual(message["string1"], "\ufffd\ufffd")
        self.assertEqual(message["string2"], "ok")

    def test_a_file_that_cannot_be_read_is_a_system_error_naming_it_and_why(self):
        for name, reason in [("absent.bin", "No such file or directory"), ("", "Is a directory")]:
            result = run("dump", os.path.join(self.directory, name))
            self.assertEqual(result.returncode, 3, name)
            self.assertIn(f"{os.path.join(self.directory, name)}: ", result.stderr)
            self.assertIn(reason, result.stderr)

if __name__ == "__main__":
    unittest.main()
