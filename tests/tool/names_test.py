"""ktutils name, version and --help: what a script reads from them."""
import unittest

from tool_harness import run

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


class Help(unittest.TestCase):
    def test_lists_every_subcommand_and_the_exit_statuses(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        for name in SUBCOMMANDS:
            self.assertRegex(result.stdout, rf"(?m)^  {name}\s")
        for status in range(4):
            self.assertRegex(result.stdout, rf"(?m)^  {status}  \S")

    def test_no_subcommand_or_an_unknown_one_is_a_usage_error(self):
        self.assertEqual(run().returncode, 2)
        result = run("frobnicate")
        self.assertEqual(result.returncode, 2)
        self.assertIn("frobnicate", result.stderr)


if __name__ == "__main__":
    unittest.main()
