#!/usr/bin/env python3
"""Checks qh_runner and the generator on a small file, and qh_record_size.

Usage: runner_test.py QH_RUNNER QHOSTS QH_RECORD_SIZE. qhosts lists the
records as JSON, so that the runner's edit is judged by a second program.
Where node is installed and scripts/compare.sh has put hostile beside the
build's bin folder, hostile_runner.js's load is checked too; never online.
Everything happens in a temporary folder.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

# compare.py, beside this file, without leaving compiled files in the sources.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402

RUNNER = ""
QHOSTS = ""
RECORD_SIZE = ""
RECORDS = 2000


def run(*args):
    return subprocess.run(list(args), stdin=subprocess.DEVNULL, capture_output=True, timeout=120)


class RunnerTest(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        self.hosts = os.path.join(self.dir, "hosts")
        self.run_ok(RUNNER, "generate", str(RECORDS), self.hosts)

    def run_ok(self, *args):
        proc = run(*args)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""), " ".join(args))
        return proc.stdout

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def records(self):
        return self.run_ok(QHOSTS, "--file", self.hosts, "list", "--json").splitlines()

    def test_generated_file_looks_like_an_ad_block_list(self):
        data = self.read(self.hosts)
        lines = [line.rstrip(b"\r") for line in data.split(b"\n") if line.strip()]
        blocking = [line for line in lines if line.startswith(b"0.0.0.0")]
        self.assertGreater(len(blocking), 0.8 * len(lines))
        self.assertTrue(lines[0].startswith(b"# "), "header comment first")
        self.assertIn(b"\r\n", data)
        patterns = {
            "inline comment": rb"0\.0\.0\.0\s\S+ # \S.*",
            "commented-out entry": rb"# 0\.0\.0\.0\s\S+",
            "several names": rb"0\.0\.0\.0\s\S+\s\S+\s*",
            "section comment": rb"# ---- .+ ----",
            "a line the library keeps as it is": rb"0\.0\.0\.0 \S+/\S+",
        }
        for what, pattern in patterns.items():
            self.assertTrue(any(re.fullmatch(pattern, line) for line in lines), what)

    def test_same_count_same_bytes(self):
        again = os.path.join(self.dir, "again")
        self.run_ok(RUNNER, "generate", str(RECORDS), again)
        self.assertEqual(self.read(again), self.read(self.hosts))

    def test_list_counts_every_generated_record(self):
        self.assertEqual(self.run_ok(RUNNER, "list", self.hosts), f"{RECORDS}\n".encode())
        self.assertEqual(len(self.records()), RECORDS)

    def test_edit_leaves_the_records_as_one_normalising_save_would(self):
        original = self.read(self.hosts)
        before = self.records()
        self.run_ok(RUNNER, "edit", self.hosts)
        saved = self.read(self.hosts)
        self.assertNotEqual(saved, original, "the edit saved the file")
        self.assertNotIn(b"\r", saved)
        self.assertNotIn(b"qh-runner-edit", saved)
        self.assertFalse(os.path.exists(self.hosts + ".tmp"))
        self.assertEqual(self.records(), before)
        # A saved file is already normal: editing it again gives it back unchanged.
        self.run_ok(RUNNER, "edit", self.hosts)
        self.assertEqual(self.read(self.hosts), saved)

    def test_failures_exit_non_zero_with_the_library_error(self):
        proc = run(RUNNER, "list", self.dir)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(proc.stderr.decode(), "qh_runner: cannot open %s: not a regular file\n" % self.dir)

        missing = os.path.join(self.dir, "missing", "hosts")
        proc = run(RUNNER, "edit", missing)
        self.assertEqual(proc.returncode, 1)
        self.assertRegex(proc.stderr.decode(), r"^qh_runner: cannot open .*hosts\.tmp for writing: ")

        self.assertEqual(run(RUNNER, "list", "").returncode, 2)
        self.assertEqual(run(RUNNER, "generate", "many", self.hosts).returncode, 2)
        self.assertEqual(run(RUNNER, "touch", "0").returncode, 2)
        self.assertEqual(run(RUNNER, "touch-huge", "x").returncode, 2)

    def test_touch_holds_the_memory_it_is_given(self):
        for command in ("touch", "touch-huge"):
            # A fresh Python parent, so that the peak seen is the runner's alone.
            peak_kib = subprocess.run(
                [sys.executable, "-c",
                 "import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True); "
                 "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                 RUNNER, command, str(64 << 20)],
                check=True, stdout=subprocess.PIPE).stdout
            self.assertGreaterEqual(int(peak_kib), 64 << 10, command)

    def test_record_size_is_the_builds_and_what_compare_uses(self):
        printed = self.run_ok(RECORD_SIZE)
        self.assertRegex(printed, rb"^[1-9][0-9]*\n$")
        size = int(printed)
        self.assertEqual(compare.record_bytes(os.path.dirname(RECORD_SIZE)), size)
        # A record holds the longest comment and name a load keeps (1023 and
        # 253 characters) and a full IPv6 address (39), each with its NUL.
        self.assertGreaterEqual(size, 1024 + 254 + 40)


class HostileRunnerTest(unittest.TestCase):
    def setUp(self):
        if not shutil.which("node"):
            self.skipTest("node is not installed")
        modules = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(RUNNER))),
                               "compare", "node_modules")
        if not os.path.isfile(os.path.join(modules, "hostile", "package.json")):
            self.skipTest(f"hostile is not in {modules}; scripts/compare.sh installs it")
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        # A stand-in for the system hosts file, refused like it.
        self.protected = self.write("protected", compare.SMALL_HOSTS)
        self.env = dict(os.environ, NODE_PATH=modules, HOSTILE_RUNNER_PROTECT=self.protected)
        self.blocklist = os.path.join(self.dir, "blocklist")
        compare.write_blocklist(self.blocklist, 50)
        self.runner = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile_runner.js")

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def load(self, blocklist, target):
        return subprocess.run(["node", self.runner, "load", blocklist, target], env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    def test_load_adds_the_list_and_refuses_the_protected_file(self):
        target = self.write("hosts", compare.SMALL_HOSTS)
        self.assertEqual(self.load(self.blocklist, target).returncode, 0)
        with open(target) as f:
            text = f.read()
        self.assertIn("192.168.1.20 printer.lan\n", text)
        self.assertEqual([line for line in text.splitlines() if line.startswith("0.0.0.0")],
                         [compare.blocklist_line(i) for i in range(1, 51)])

        link = os.path.join(self.dir, "link")
        os.symlink(self.protected, link)
        for blocklist, target in ((self.blocklist, link), (self.protected, target)):
            with open(target) as f:
                before = f.read()
            proc = self.load(blocklist, target)
            self.assertEqual(proc.returncode, 2, (blocklist, target))
            self.assertIn(b"refusing to touch", proc.stderr)
            with open(target) as f:
                self.assertEqual(f.read(), before)


if __name__ == "__main__":
    RUNNER, QHOSTS, RECORD_SIZE = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
