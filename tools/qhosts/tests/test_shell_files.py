#!/usr/bin/env python3
"""Checks qhosts' bash and zsh completions and its man page.

QHOSTS_EXE, when set, names the program: every command and long option its
--help shows must be known to the completions and the man page.
"""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
BASH_FILE = os.path.join(HERE, "..", "completion", "qhosts.bash")
ZSH_FILE = os.path.join(HERE, "..", "completion", "_qhosts")
MAN_PAGE = os.path.join(HERE, "..", "..", "..", "docs", "qhosts.1")
EXE = os.environ.get("QHOSTS_EXE", "")

COMMANDS = ["list", "check", "find", "add", "set", "enable", "disable", "remove", "import",
            "backups", "restore", "flush", "help"]
LONG_OPTION = re.compile(r"(?<![\w-])--[a-z][a-z-]*")


def bash_complete(lines, cwd=None):
    """The answers of _qhosts for each line of words (the last word is the
    one being completed), sorted."""
    script = [f"source {shlex.quote(BASH_FILE)}"]
    for words in lines:
        script.append(f"COMP_WORDS=({' '.join(shlex.quote(w) for w in words)}); "
                      f"COMP_CWORD={len(words) - 1}; COMPREPLY=(); _qhosts; "
                      "for w in \"${COMPREPLY[@]}\"; do printf '%s\\n' \"$w\"; done; echo '<end>'")
    env = {k: v for k, v in os.environ.items() if k != "BASH_ENV"}
    out = subprocess.run(["bash", "--norc", "--noprofile", "-c", "\n".join(script)], cwd=cwd,
                         env=env, capture_output=True, text=True, check=True).stdout
    return [sorted(block.split()) for block in out.split("<end>\n")[:-1]]


def man_text():
    """The man page's source with dashes and font changes as they read."""
    with open(MAN_PAGE, encoding="utf-8") as f:
        return re.sub(r"\\f[BIRP]", "", f.read()).replace("\\-", "-")


def program_help():
    """The commands and the long options that `qhosts --help` shows."""
    text = subprocess.run([EXE, "--help"], capture_output=True, text=True, check=True).stdout
    commands, in_commands = set(), False
    for line in text.splitlines():
        if line.strip() == "commands:":
            in_commands = True
        elif line and not line.startswith(" "):
            in_commands = False
        elif in_commands and (m := re.match(r"  ([a-z][a-z-]*)(\s|$)", line)):
            commands.add(m.group(1))
    return commands, set(LONG_OPTION.findall(text))


@unittest.skipUnless(shutil.which("bash"), "bash is not installed")
class BashTest(unittest.TestCase):
    def test_registers_the_function(self):
        out = subprocess.run(["bash", "--norc", "--noprofile", "-c",
                              f"source {shlex.quote(BASH_FILE)}; complete -p qhosts"],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(out.strip(), "complete -F _qhosts qhosts")

    def test_completions(self):
        cases = [
            (["qhosts", "dis"], ["disable"]),
            (["qhosts", "list", "--f"], ["--file", "--format"]),
            (["qhosts", "help", "re"], ["remove", "restore"]),
            (["qhosts", "list", "--format", ""], ["json", "plain", "table"]),
            (["qhosts", "-f", "h"], ["hosts.new"]),
            (["qhosts", "--file", "=", "h"], ["hosts.new"]),
            (["qhosts", "-nf", "hosts.new", "import", "h"], ["hosts.new"]),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for name in ("hosts.new", "other"):
                open(os.path.join(folder, name), "w").close()
            answers = bash_complete([words for words, _ in cases], cwd=folder)
        for (words, expected), got in zip(cases, answers):
            with self.subTest(line=" ".join(words)):
                self.assertEqual(got, expected)


@unittest.skipUnless(shutil.which("man"), "man is not installed")
class ManTest(unittest.TestCase):
    def test_renders_every_command(self):
        env = dict(os.environ, MANPAGER="cat", PAGER="cat", MANWIDTH="80")
        run = subprocess.run(["man", "--warnings=w", "-l", MAN_PAGE], env=env,
                             capture_output=True, text=True)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        section = run.stdout.split("\nCOMMANDS\n")[1].split("\nTARGETS\n")[0]
        tags = set(re.findall(r"^ {1,8}([a-z]+)\b", section, re.M))
        self.assertEqual(sorted(set(COMMANDS) - tags), [])


@unittest.skipUnless(shutil.which("zsh"), "zsh is not installed")
class ZshTest(unittest.TestCase):
    def test_syntax(self):
        run = subprocess.run(["zsh", "-n", ZSH_FILE], capture_output=True, text=True)
        self.assertEqual((run.returncode, run.stderr), (0, ""))


@unittest.skipUnless(EXE, "QHOSTS_EXE is not set: no program to compare with")
class DriftTest(unittest.TestCase):
    """The files may know more than the program, never less."""

    @classmethod
    def setUpClass(cls):
        cls.commands, cls.options = program_help()

    def test_help_lists_commands(self):
        self.assertIn("list", self.commands)
        self.assertIn("--file", self.options)

    def test_man_page(self):
        text = man_text()
        tags = set(re.findall(r"^\.TP\n\.B[IR]? (\w+)", text, re.M))
        self.assertEqual(sorted(self.commands - tags), [])
        self.assertEqual(sorted(self.options - set(LONG_OPTION.findall(text))), [])

    def test_zsh(self):
        with open(ZSH_FILE, encoding="utf-8") as f:
            text = f.read()
        listed = re.search(r"^commands=\((.*?)^\)", text, re.M | re.S).group(1)
        self.assertEqual(sorted(self.commands - set(re.findall(r"'(\w+):", listed))), [])
        self.assertEqual(sorted(self.options - set(LONG_OPTION.findall(text))), [])

    @unittest.skipUnless(shutil.which("bash"), "bash is not installed")
    def test_bash(self):
        lines = [["qhosts", ""], ["qhosts", "-"]] + [["qhosts", c, "-"] for c in COMMANDS]
        answers = bash_complete(lines)
        self.assertEqual(sorted(self.commands - set(answers[0])), [])
        offered = {word for answer in answers[1:] for word in answer}
        self.assertEqual(sorted(self.options - offered), [])


if __name__ == "__main__":
    unittest.main()
