"""The man page and the bash completion: both cover every command and long
option that `ktutils ... --help` lists, the page renders without a warning,
and `cmake --install` puts them where man and bash-completion look."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from tool_harness import TIME_LIMIT, run

MAN_PAGE = os.environ.get("KTUTILS_MAN_PAGE", "")
COMPLETION = os.environ.get("KTUTILS_COMPLETION", "")


def listed(help_text, pattern):
    return set(re.findall(pattern, help_text, re.MULTILINE))


def commands():
    """Every command path with its --help: ("crc",), ("marker", "write"), ..."""
    paths = []
    for name in listed(run("--help").stdout, r"^  ([a-z]+)\s"):
        subs = listed(run(name, "--help").stdout, r"^  ([a-z]+)\s")
        paths += [(name, sub) for sub in subs] if subs else [(name,)]
    return paths


def long_options(path):
    return listed(run(*path, "--help").stdout, r"^\s+(?:-\w, )?(--[a-z][a-z-]*)") - {"--help"}


def complete(*words):
    """What the completion offers for the last of `words` after ktutils."""
    script = ('source "$1"; shift; COMP_WORDS=(ktutils "$@"); COMP_CWORD=$#; _ktutils; '
              'printf "%s\\n" "${COMPREPLY[@]}"')
    result = subprocess.run(["bash", "-c", script, "bash", COMPLETION, *words],
                            capture_output=True, text=True, timeout=TIME_LIMIT)
    if result.returncode != 0 or result.stderr:
        raise AssertionError(result.stderr)
    return set(result.stdout.split())


@unittest.skipUnless(MAN_PAGE and COMPLETION, "run by ctest, which names the built files")
class ManPageAndCompletion(unittest.TestCase):
    def test_the_man_page_renders_without_warnings_and_names_every_command_and_option(self):
        result = subprocess.run(["man", "--warnings", "-l", MAN_PAGE], capture_output=True,
                                text=True, timeout=TIME_LIMIT, env={**os.environ, "MANWIDTH": "80"})
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        page = re.sub(r"\s+", " ", result.stdout.replace("\u2010", "-"))
        for path in commands():
            self.assertIn(" ".join(path), page)
            for option in long_options(path) - {"--password"}:
                self.assertIn(option, page, path)
        version = run("--version").stdout.split()[1]
        self.assertIn(f"ktutils {version}", page)

    def test_the_completion_offers_every_command_and_each_commands_options(self):
        self.assertEqual(complete(""), {p[0] for p in commands()} | {"--help", "--version"})
        self.assertEqual(complete("c"), {"crc", "connect"})
        for path in commands():
            self.assertLessEqual(long_options(path), complete(*path, "--"), path)
        with tempfile.TemporaryDirectory() as folder:
            open(os.path.join(folder, "list.crc"), "w").close()
            self.assertEqual(complete("crc", "-c", os.path.join(folder, "li")),
                             {os.path.join(folder, "list.crc")})

    @unittest.skipUnless(os.environ.get("KTUTILS_INSTALL_RULES") == "1",
                         "the build has no install rules (KTUTILS_INSTALL is off)")
    def test_install_puts_them_where_man_and_bash_completion_look(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([os.environ["CMAKE_COMMAND"], "--install", os.environ["KTUTILS_BUILD_DIR"],
                            "--prefix", prefix, "--component", "ktutils_tools"],
                           check=True, capture_output=True, timeout=TIME_LIMIT)
            for installed in ["bin/ktutils", "share/man/man1/ktutils.1",
                              "share/bash-completion/completions/ktutils"]:
                self.assertTrue(os.path.isfile(os.path.join(prefix, installed)), installed)


if __name__ == "__main__":
    unittest.main()
