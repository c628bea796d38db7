"""ktutils verify: the signature check in words, against the images that
make_signature_fixtures.sh signs (the signature-fixtures test makes them)."""
import os
import unittest

from tool_harness import run

FIXTURES = os.environ.get("KTUTILS_SIGNATURE_FIXTURES", "")

# The fixtures' own CA as the only trusted root, as the signature tests do.
TEST_ROOTS = {"KTUTILS_TRUST_ROOTS": os.path.join(FIXTURES, "trusted-roots.pem")}


def fixture(name):
    return os.path.join(FIXTURES, name)


@unittest.skipUnless(FIXTURES, "no signature fixtures: run through ctest, which makes them first")
class Verify(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Named but not made is a broken setup, not a reason to skip.
        if not os.path.exists(fixture("complete")):
            raise AssertionError(f"the signature fixtures in {FIXTURES} are incomplete")
    def test_a_file_signed_under_a_trusted_root_is_trusted(self):
        for name in ("pe32-signed.exe", "pe32plus-signed.exe"):
            result = run("verify", fixture(name), env=TEST_ROOTS)
            self.assertEqual((result.returncode, result.stdout),
                             (0, f"{fixture(name)}: trusted\n"), result.stderr)

    def test_roots_option_trusts_exactly_the_roots_it_names(self):
        # The environment names the test CA; --roots overrides it.
        for roots, code in (("trusted-roots.pem", 0), ("roots-dir", 0), ("other-ca.pem", 1),
                            ("no-certs", 1)):
            result = run("verify", "--roots", fixture(roots), fixture("pe32-signed.exe"),
                         env=TEST_ROOTS)
            verdict = "trusted" if code == 0 else "NOT trusted"
            self.assertEqual((result.returncode, result.stdout),
                             (code, f"{fixture('pe32-signed.exe')}: {verdict}\n"), roots)
        self.assertEqual(run("verify", "--roots", fixture("absent.pem"),
                             fixture("pe32-signed.exe")).returncode, 2)

    def test_unsigned_untrusted_and_missing_files_are_not_trusted(self):
        for path in (fixture("pe32.exe"), fixture("untrusted-signed.exe"),
                     fixture("server-auth-signed.exe"), fixture("absent.exe")):
            result = run("verify", path, env=TEST_ROOTS)
            self.assertEqual((result.returncode, result.stdout), (1, f"{path}: NOT trusted\n"))
            # The library gives no reason, so neither does the tool.
            self.assertEqual(result.stderr, "")

    def test_every_file_is_answered_and_one_untrusted_file_fails_the_run(self):
        files = [fixture("pe32-signed.exe"), fixture("pe32.exe"), fixture("pe32plus-signed.exe")]
        result = run("verify", *files, env=TEST_ROOTS)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(),
                         [f"{files[0]}: trusted", f"{files[1]}: NOT trusted",
                          f"{files[2]}: trusted"])

    def test_accepting_an_unknown_provider_does_not_trust_a_refused_file(self):
        result = run("verify", "--accept-provider-unknown", "--ui", "1", fixture("pe32.exe"),
                     env=TEST_ROOTS)
        self.assertEqual(result.returncode, 1)

    def test_bad_arguments_are_usage_errors(self):
        self.assertEqual(run("verify").returncode, 2)
        for ui in ("0", "5", "none"):
            result = run("verify", "--ui", ui, fixture("pe32-signed.exe"))
            self.assertEqual(result.returncode, 2, ui)
            self.assertIn("--ui", result.stderr, ui)


if __name__ == "__main__":
    unittest.main()
