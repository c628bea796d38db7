"""ktutils name, version, --version and --help, usage errors, and output
that cannot be written: what a script reads from the tool."""
import os
import subprocess
import tempfile
import unittest

from tool_harness import TIME_LIMIT, TOOL, Server, golden_frames, run

SUBCOMMANDS = ["crc", "marker", "verify", "dump", "serve", "connect", "name", "version"]


class NameCommand(unittest.TestCase):
    def test_error_codes_print_their_constant(self):
        for code, name in [("0", "KT_OK"), ("17", "KTERR_SERVERFULL"), ("0x11", "KTERR_SERVERFULL"),
                           ("31", "KTERR_AUTHFAILED"), ("5000", "KTERR_USER")]:
            result = run("name", "error", code)
            self.assertEqual((result.returncode, result.stdout), (0, name + "\n"), code)

    def test_codes_without_a_name_print_the_fallback_and_exit_1(self):
        for code in ["9", "30", "-1", "4999", "-2147483648"]:
            result = run("name", "error", code)
            self.assertEqual((result.returncode, result.stdout), (1, "UNKNOWN_ERROR\n"), code)

    def test_message_types_print_their_constant_at_both_ends_of_each_run(self):
        for number, name in [("14", "KTMESSAGETYPE2_CONNECTED"),
                             ("29", "KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED"),
                             ("120", "KTMESSAGETYPE2_CONNECTIONERROR"),
                             ("0x7e", "KTMESSAGETYPE2_ALREADYCONNECTED")]:
            result = run("name", "message", number)
            self.assertEqual((result.returncode, result.stdout), (0, name + "\n"), number)

    def test_types_just_outside_the_runs_are_unknown(self):
        for number in ["0", "13", "30", "119", "127", "65535"]:
            result = run("name", "message", number)
            self.assertEqual((result.returncode, result.stdout), (1, "UNKNOWN_MESSAGE\n"), number)

    def test_out_of_range_or_non_numeric_arguments_are_usage_errors_naming_the_argument(self):
        for args in [("message", "65536"), ("message", "-1"), ("message", "ping"),
                     ("error", "2147483648"), ("error", "")]:
            result = run("name", *args)
            self.assertEqual(result.returncode, 2, args)
            self.assertEqual(result.stdout, "", args)
            self.assertIn("N", result.stderr, args)

    def test_name_without_a_kind_is_a_usage_error(self):
        self.assertEqual(run("name").returncode, 2)
        self.assertEqual(run("name", "colour", "3").returncode, 2)


class VersionCommand(unittest.TestCase):
    def test_prints_the_library_protocol_version(self):
        result = run("version")
        self.assertEqual((result.returncode, result.stdout), (0, "0.0.0.3\n"))

    def test_the_version_option_prints_the_package_then_the_protocol_version(self):
        package = os.environ.get("KTUTILS_PACKAGE_VERSION")
        if package is None:
            self.skipTest("run by ctest, which passes the project's version")
        result = run("--version")
        self.assertEqual((result.returncode, result.stdout),
                         (0, f"ktutils {package}\nprotocol version 0.0.0.3\n"))


class Help(unittest.TestCase):
    def test_lists_every_subcommand_and_the_exit_statuses(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        for name in SUBCOMMANDS:
            self.assertRegex(result.stdout, rf"(?m)^  {name}\s")
        for status in range(4):
            self.assertRegex(result.stdout, rf"(?m)^  {status}  \S")

    def test_usage_errors_name_the_command_and_point_at_its_help(self):
        for args, command, what in [
                ([], "ktutils", "A subcommand is required"),
                (["frobnicate"], "ktutils", "'frobnicate' is not a subcommand"),
                (["--bogus", "crc"], "ktutils", "unrecognized option '--bogus'"),
                (["crc", "--bogus"], "ktutils crc", "unrecognized option '--bogus'"),
                (["name", "error", "1", "2"], "ktutils name error", "extra operand '2'"),
                (["dump"], "ktutils dump", "FILE is required"),
                (["serve", "--port", "99999"], "ktutils serve", "Could not convert: --port = 99999"),
                (["connect", "127.0.0.1:1", "--version", "1.2.3.4"], "ktutils connect",
                 "unrecognized option '--version'")]:
            result = run(*args)
            self.assertEqual((result.returncode, result.stdout), (2, ""), args)
            self.assertEqual(result.stderr, f"{command}: {what}\n"
                                            f"Try '{command} --help' for more information.\n")


class LostOutput(unittest.TestCase):
    def test_every_command_writing_to_a_full_disk_fails_with_a_write_error(self):
        with tempfile.TemporaryDirectory() as folder, Server() as server:
            data = os.path.join(folder, "data")
            with open(data, "wb") as f:
                f.write(b"".join(golden_frames().values()))
            listing = run("crc", data).stdout
            for args in [["crc", data], ["crc", "-c", "-"], ["marker", "write", data],
                         ["marker", "read", data], ["marker", "check", data], ["dump", data],
                         ["dump", "--json", data], ["verify", data], ["name", "error", "0"],
                         ["version"], ["--version"], ["--help"], ["crc", "--help"],
                         ["connect", server.address]]:
                with open("/dev/full", "w") as full:
                    result = subprocess.run([TOOL, *args], stdout=full, stderr=subprocess.PIPE,
                                            input=listing, text=True,
                                            timeout=TIME_LIMIT)
                self.assertEqual(result.returncode, 3, args)
                self.assertTrue(result.stderr.endswith(
                    "ktutils: write error: No space left on device\n"), (args, result.stderr))


if __name__ == "__main__":
    unittest.main()
