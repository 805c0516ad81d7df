#!/usr/bin/env python3
"""End-to-end tests for the qhosts command-line program.

QHOSTS_EXE names the program. QHOSTS_RUNNER, when set, is a ';'-separated
command put in front of it (a cross build runs qhosts.exe through wine); the
paths handed to the program are then written as Windows paths on wine's Z:
drive. Every test works on its own copy of FIXTURE in a temporary folder.
"""

import json
import os
import re
import subprocess
import tempfile
import unittest

EXE = os.environ.get("QHOSTS_EXE", "")
RUNNER = [part for part in os.environ.get("QHOSTS_RUNNER", "").split(";") if part]

FIXTURE = (
    "# office hosts\n"
    "127.0.0.1 localhost\n"
    "::1 localhost ip6-localhost\n"
    "\n"
    "10.0.0.5 build.lan ci.lan # office\n"
    "# 10.0.0.9 old.lan # retired\n"
    "192.168.1.20 nas.lan\n"
)

# FIXTURE as the library reads it: one record per name, in file order, as
# (ip, name, enabled, comment), plus the lines that are not records.
RECORDS = [
    ("127.0.0.1", "localhost", True, ""),
    ("::1", "localhost", True, ""),
    ("::1", "ip6-localhost", True, ""),
    ("10.0.0.5", "build.lan", True, "office"),
    ("10.0.0.5", "ci.lan", True, "office"),
    ("10.0.0.9", "old.lan", False, "retired"),
    ("192.168.1.20", "nas.lan", True, ""),
]
OTHER_LINES = ["# office hosts"]


def render(records, other_lines=OTHER_LINES):
    """The file the library writes: records first, then the other lines."""
    lines = []
    for ip, name, enabled, comment in records:
        line = f"{ip} {name}" + (f" # {comment}" if comment else "")
        lines.append(line if enabled else "# " + line)
    return "".join(line + "\n" for line in lines + other_lines).encode()


def as_dict(record):
    ip, name, enabled, comment = record
    return {"ip": ip, "name": name, "enabled": int(enabled), "comment": comment}


def with_state(records, indices, enabled):
    return [
        (ip, name, enabled if i in indices else on, comment)
        for i, (ip, name, on, comment) in enumerate(records)
    ]


def without(records, indices):
    return [r for i, r in enumerate(records) if i not in indices]


def program_path(path):
    """Spells a local path the way the program under test can open it."""
    if RUNNER:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


class QhostsTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(EXE, "QHOSTS_EXE must name the qhosts program")
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        self.tmpdir = os.path.join(self.dir, "tmp")
        os.mkdir(self.tmpdir)
        self.hosts = os.path.join(self.dir, "hosts")
        self.write_hosts(FIXTURE.encode())

    def write_hosts(self, data):
        with open(self.hosts, "wb") as f:
            f.write(data)

    def read_hosts(self):
        with open(self.hosts, "rb") as f:
            return f.read()

    def run_qhosts(self, *args, use_file=True):
        env = dict(os.environ, WINEDEBUG="-all")
        if not RUNNER:
            # A private temp folder shows whether --dry-run cleans up. Not
            # under wine: its runner keeps the wine prefix in TMPDIR.
            env["TMPDIR"] = self.tmpdir
        file_args = ["--file", program_path(self.hosts)] if use_file else []
        # Output goes to files, not pipes: a wineserver started by the runner
        # inherits these handles and lingers after the program exits, and
        # reading a pipe would wait for it to end on every call.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run(
                RUNNER + [EXE] + file_args + list(args),
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=err,
                env=env,
                timeout=120,
            )
            out.seek(0)
            err.seek(0)
            return proc.returncode, out.read().decode(), err.read().decode()

    def run_ok(self, *args):
        code, out, err = self.run_qhosts(*args)
        self.assertEqual((code, err), (0, ""), f"qhosts {' '.join(args)}")
        return out

    def list_json(self, *args):
        out = self.run_ok("list", "--json", *args)
        return [json.loads(line) for line in out.splitlines()]

    def assert_error(self, args, code, stderr_pattern):
        before = self.read_hosts()
        got_code, out, err = self.run_qhosts(*args)
        self.assertEqual(got_code, code, f"exit status of qhosts {args}")
        self.assertEqual(out, "", f"stdout of qhosts {args}")
        self.assertRegex(err, stderr_pattern)
        self.assertEqual(self.read_hosts(), before, f"file after qhosts {args}")
        return err

    def test_table_lists_every_record_in_aligned_columns(self):
        lines = self.run_ok("list").splitlines()
        header = lines[0]
        self.assertEqual(header.split(), ["INDEX", "STATE", "ADDRESS", "NAME", "COMMENT"])
        starts = [m.start() for m in re.finditer(r"\S+", header)]
        ends = starts[1:] + [None]
        rows = [[line[s:e].strip() for s, e in zip(starts, ends)] for line in lines[1:]]
        expected = [
            [str(i), "on" if on else "off", ip, name, comment]
            for i, (ip, name, on, comment) in enumerate(RECORDS)
        ]
        self.assertEqual(rows, expected)
        for line in lines:
            self.assertEqual(line, line.rstrip(), "no trailing blanks")

    def test_json_prints_one_object_per_record(self):
        self.assertEqual(self.list_json(), [as_dict(r) for r in RECORDS])

    def test_filters_select_records(self):
        cases = [
            (["--enabled"], [0, 1, 2, 3, 4, 6]),
            (["--disabled"], [5]),
            (["lan"], [3, 4, 5, 6]),
            (["10.0.0"], [3, 4, 5]),
            (["LocalHost"], [0, 1, 2]),
            (["::"], [1, 2]),
            (["--disabled", "lan"], [5]),
            (["--enabled", "old"], []),
            (["nothing-matches"], []),
        ]
        for args, indices in cases:
            with self.subTest(args=args):
                self.assertEqual(self.list_json(*args), [as_dict(RECORDS[i]) for i in indices])
        table = self.run_ok("list", "--disabled").splitlines()
        self.assertEqual([line.split()[0] for line in table[1:]], ["5"])

    def test_escaped_text_is_decoded(self):
        comment = 'say "hi" \\ now\tthen\x01end caf\u00e9'
        self.write_hosts(f"10.1.1.1 odd.lan # {comment}\n".encode())
        self.assertEqual(
            self.list_json(),
            [{"ip": "10.1.1.1", "name": "odd.lan", "enabled": 1, "comment": comment}],
        )
        row = self.run_ok("list").splitlines()[1]
        self.assertTrue(row.endswith('say "hi" \\ now?then?end caf\u00e9'), row)

    def test_add_prints_index_and_saves(self):
        cases = [
            (["10.9.9.9", "new.lan"], ("10.9.9.9", "new.lan", True, "")),
            (["fd00::7", "v6.lan", "lab box"], ("fd00::7", "v6.lan", True, "lab box")),
        ]
        for args, record in cases:
            with self.subTest(args=args):
                self.write_hosts(FIXTURE.encode())
                self.assertEqual(self.run_ok("add", *args), f"{len(RECORDS)}\n")
                self.assertEqual(self.read_hosts(), render(RECORDS + [record]))

    def test_edits_by_index_and_name(self):
        cases = [
            (["disable", "0"], with_state(RECORDS, {0}, False)),
            (["disable", "localhost"], with_state(RECORDS, {0, 1}, False)),
            (["disable", "NAS.lan", "3"], with_state(RECORDS, {3, 6}, False)),
            (["enable", "5"], with_state(RECORDS, {5}, True)),
            (["enable", "old.lan"], with_state(RECORDS, {5}, True)),
            (["remove", "2"], without(RECORDS, {2})),
            (["remove", "1", "4", "6"], without(RECORDS, {1, 4, 6})),
            (["remove", "6", "0", "3", "0"], without(RECORDS, {0, 3, 6})),
            (["remove", "localhost", "5"], without(RECORDS, {0, 1, 5})),
        ]
        for args, records in cases:
            with self.subTest(args=args):
                self.write_hosts(FIXTURE.encode())
                self.assertEqual(self.run_ok(*args), "")
                self.assertEqual(self.read_hosts(), render(records))

    def test_dry_run_prints_result_and_changes_nothing(self):
        cases = [
            (["--dry-run", "add", "10.9.9.9", "new.lan"], RECORDS + [("10.9.9.9", "new.lan", True, "")]),
            (["disable", "ci.lan", "--dry-run"], with_state(RECORDS, {4}, False)),
            (["--dry-run", "remove", "0", "6"], without(RECORDS, {0, 6})),
        ]
        for args, records in cases:
            with self.subTest(args=args):
                self.assertEqual(self.run_ok(*args).encode(), render(records))
                self.assertEqual(self.read_hosts(), FIXTURE.encode())
                if not RUNNER:
                    self.assertEqual(os.listdir(self.tmpdir), [], "temporary copy left behind")

    def test_failed_operations_exit_1_with_one_line(self):
        self.assert_error(["remove", "99"], 1, r"\Aqhosts: index 99 out of range \(count 7\)\n\Z")
        self.assert_error(["enable", "0", "99999999999999999999"], 1,
                          r"\Aqhosts: index 99999999999999999999 out of range \(count 7\)\n\Z")
        self.assert_error(["disable", "0", "nosuch.lan"], 1, r"\Aqhosts: no record named 'nosuch.lan'\n\Z")
        self.assert_error(["add", "999.1.1.1", "x.lan"], 1, r"\Aqhosts: [^\n]*999\.1\.1\.1[^\n]*\n\Z")
        self.assert_error(["--file", program_path(self.dir), "list"], 1, r"\Aqhosts: [^\n]+\n\Z")
        missing_dir = os.path.join(self.dir, "missing", "hosts")
        self.assert_error(["--file", program_path(missing_dir), "add", "10.0.0.1", "a.lan"], 1,
                          r"\Aqhosts: [^\n]+\n\Z")

    def test_bad_usage_exits_2_with_one_line(self):
        cases = [
            [],
            ["frobnicate"],
            ["list", "--frob"],
            ["list", "a", "b"],
            ["list", "--enabled", "--disabled"],
            ["add", "10.0.0.1"],
            ["add", "10.0.0.1", "a.lan", "c", "extra"],
            ["remove"],
            ["enable", "--json", "0"],
            ["flush", "now"],
            ["--file="],
            ["--file"],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.assert_error(args, 2, r"\Aqhosts: [^\n]+\n\Z")

    def test_help_and_version(self):
        code, out, err = self.run_qhosts("--help", use_file=False)
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith("usage: qhosts"), out)
        code, out, err = self.run_qhosts("--version", use_file=False)
        self.assertEqual((code, err), (0, ""))
        self.assertRegex(out, r"\A\d+\.\d+\.\d+\n\Z")


if __name__ == "__main__":
    unittest.main()
