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
import shutil
import subprocess
import tempfile
import unittest

EXE = os.environ.get("QHOSTS_EXE", "")
CASES_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tests",
                          "editing_cases", "cases.json")
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
        return self.read_file(self.hosts)

    def read_file(self, path):
        with open(path, "rb") as f:
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
            ["check", "extra"],
            ["find"],
            ["find", "name="],
            ["--dry-run", "find", "localhost"],
            ["check", "--enabled"],
            ["set", "10.0.0.1"],
            ["set", "10.0.0.1", "a.lan", "c", "extra"],
            ["disable", "name="],
            ["remove", "0", "ip="],
            # Global options that the command cannot honour are refused.
            ["--flush", "list"],
            ["--flush", "check"],
            ["--flush", "flush"],
            ["--dry-run", "list"],
            ["check", "--dry-run"],
            ["--dry-run", "flush"],
            ["--backup", "list"],
            ["--backup", "check", "--json"],
            ["--backup", "flush"],
            ["--dry-run", "--flush", "add", "10.0.0.1", "a.lan"],
            ["--dry-run", "--backup", "remove", "0"],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.assert_error(args, 2, r"\Aqhosts: [^\n]+\n\Z")

    def test_set_leaves_one_enabled_record(self):
        # (arguments, records afterwards, report lines); each case then runs
        # again and must find nothing to change.
        cases = [
            (["10.7.7.7", "new.lan"], RECORDS + [("10.7.7.7", "new.lan", True, "")],
             ["added 7: 10.7.7.7 new.lan"]),
            (["10.0.0.9", "old.lan"], with_state(RECORDS, {5}, True),
             ["enabled 5: 10.0.0.9 old.lan # retired"]),
            (["10.0.0.77", "NAS.lan", "moved"],
             with_state(RECORDS, {6}, False) + [("10.0.0.77", "NAS.lan", True, "moved")],
             ["disabled 6: 192.168.1.20 nas.lan", "added 7: 10.0.0.77 NAS.lan # moved"]),
            (["10.0.0.5", "build.lan", "moved"],
             without(RECORDS, {3}) + [("10.0.0.5", "build.lan", True, "moved")],
             ["updated 6: 10.0.0.5 build.lan # moved"]),
            (["127.0.0.1", "localhost"], with_state(RECORDS, {1}, False),
             ["disabled 1: ::1 localhost"]),
        ]
        for args, records, report in cases:
            with self.subTest(args=args):
                self.write_hosts(FIXTURE.encode())
                self.assertEqual(self.run_ok("set", *args).splitlines(), report)
                after = self.read_hosts()
                self.assertEqual(after, render(records))
                self.assertEqual(self.run_ok("set", *args), "")
                self.assertEqual(self.read_hosts(), after, "a second set wrote the file")

    def test_edits_with_nothing_to_change_leave_the_bytes_alone(self):
        # FIXTURE is not in the form a save writes (a blank line, a line with
        # two names), so any save would show.
        cases = [
            (["set", "192.168.1.20", "nas.lan"], ""),
            (["set", "10.0.0.5", "build.lan", " office "], ""),
            (["add", "10.0.0.5", "build.lan"], "3\n"),
            (["add", "0:0::1", "LOCALHOST", "other comment"], "1\n"),
            (["enable", "localhost"], ""),
            (["disable", "old.lan"], ""),
            (["--dry-run", "set", "192.168.1.20", "nas.lan"], ""),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertEqual(self.run_ok(*args), out)
                self.assertEqual(self.read_hosts(), FIXTURE.encode())

    def test_add_of_a_disabled_entry_adds_an_enabled_one(self):
        self.assertEqual(self.run_ok("add", "10.0.0.9", "old.lan"), "7\n")
        self.assertEqual(self.read_hosts(), render(RECORDS + [("10.0.0.9", "old.lan", True, "")]))

    @unittest.skipIf(RUNNER or not os.path.exists("/dev/full"), "needs /dev/full (Linux)")
    def test_add_retried_after_a_failed_print_adds_once(self):
        with open("/dev/full", "w") as full:
            proc = subprocess.run([EXE, "--file", self.hosts, "add", "10.9.9.9", "x.lan"],
                                  stdout=full, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(self.run_ok("add", "10.9.9.9", "x.lan"), "7\n")
        self.assertEqual(self.read_hosts(), render(RECORDS + [("10.9.9.9", "x.lan", True, "")]))

    def test_check_reports_duplicates_and_conflicts(self):
        # (lines after FIXTURE, exit status, findings as JSON)
        cases = [
            ("", 0, []),
            ("# 10.0.0.6 nas.lan\n10.0.0.5 other.lan\n", 0, []),
            ("10.0.0.5 BUILD.lan\n", 1,
             [{"problem": "duplicate", "name": "build.lan", "ip": "10.0.0.5", "enabled": 1,
               "indexes": [3, 7]}]),
            ("0:0::1 localhost\n", 1,
             [{"problem": "duplicate", "name": "localhost", "ip": "::1", "enabled": 1,
               "indexes": [1, 7]}]),
            ("# 10.0.0.9 old.lan\n", 1,
             [{"problem": "duplicate", "name": "old.lan", "ip": "10.0.0.9", "enabled": 0,
               "indexes": [5, 7]}]),
            ("10.0.0.6 nas.lan\nfd00::1 nas.lan\n", 1,
             [{"problem": "conflict", "name": "nas.lan", "family": "IPv4", "indexes": [6, 7]}]),
            ("::2 localhost\n10.0.0.5 ci.lan\n", 1,
             [{"problem": "conflict", "name": "localhost", "family": "IPv6", "indexes": [1, 7]},
              {"problem": "duplicate", "name": "ci.lan", "ip": "10.0.0.5", "enabled": 1,
               "indexes": [4, 8]}]),
        ]
        for extra, code, findings in cases:
            with self.subTest(extra=extra):
                self.write_hosts((FIXTURE + extra).encode())
                got_code, out, err = self.run_qhosts("check", "--json")
                self.assertEqual((got_code, err), (code, ""))
                self.assertEqual([json.loads(line) for line in out.splitlines()], findings)
                got_code, out, err = self.run_qhosts("check")
                self.assertEqual((got_code, err), (code, ""))
                self.assertEqual(len(out.splitlines()), len(findings))
                self.assertEqual(self.read_hosts(), (FIXTURE + extra).encode())
        self.write_hosts((FIXTURE + "10.0.0.6 nas.lan\n").encode())
        self.assertEqual(self.run_qhosts("check")[1],
                         "conflict: nas.lan has several enabled IPv4 addresses: "
                         "6 (192.168.1.20) 7 (10.0.0.6)\n")

    def test_targets_choose_by_index_name_and_address(self):
        fixture = FIXTURE + "10.0.0.8 123\n"
        records = RECORDS + [("10.0.0.8", "123", True, "")]
        cases = [
            (["disable", "name=123"], with_state(records, {7}, False)),
            (["disable", "NAME=123"], None),
            (["remove", "name=NAS.lan", "0"], without(records, {0, 6})),
            (["disable", "ip=10.0.0.5"], with_state(records, {3, 4}, False)),
            (["remove", "ip=0:0:0::1"], without(records, {1, 2})),
            (["enable", "ip=10.0.0.9", "ip=10.0.0.9"], with_state(records, {5}, True)),
            (["disable", "ip=10.0.0.99"], None),
            (["disable", "123"], None),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                self.write_hosts(fixture.encode())
                if expected is None:
                    self.assert_error(args, 1, r"\Aqhosts: [^\n]+\n\Z")
                else:
                    self.assertEqual(self.run_ok(*args), "")
                    self.assertEqual(self.read_hosts(), render(expected))

    def test_backup_keeps_the_replaced_file(self):
        self.assertEqual(self.run_ok("--backup", "disable", "nas.lan"), "")
        first = self.read_hosts()
        self.assertEqual(first, render(with_state(RECORDS, {6}, False)))
        self.assertEqual(self.read_file(self.hosts + ".bak"), FIXTURE.encode())
        self.assertEqual(self.run_ok("remove", "0", "--backup"), "")
        self.assertEqual(self.read_file(self.hosts + ".bak"), first)
        self.assertEqual(sorted(os.listdir(self.dir)), ["hosts", "hosts.bak", "tmp"])
        # Nothing to change, nothing replaced: the backup stays as it was.
        self.assertEqual(self.run_ok("--backup", "set", "10.0.0.5", "build.lan"), "")
        self.assertEqual(self.read_file(self.hosts + ".bak"), first)

    def test_backup_of_an_absent_file_is_skipped(self):
        os.remove(self.hosts)
        self.assertEqual(self.run_ok("--backup", "add", "10.0.0.1", "a.lan"), "0\n")
        self.assertEqual(self.read_hosts(), b"10.0.0.1 a.lan\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["hosts", "tmp"])

    @unittest.skipIf(RUNNER, "file modes are a Linux matter")
    def test_backup_keeps_the_mode(self):
        os.chmod(self.hosts, 0o640)
        self.run_ok("--backup", "disable", "0")
        self.assertEqual(os.stat(self.hosts + ".bak").st_mode & 0o7777, 0o640)

    @unittest.skipIf(RUNNER, "the access test uses Linux users")
    def test_refused_access_adds_the_elevation_hint(self):
        # A folder this user may read but not write: as root, qhosts runs as
        # the unprivileged user nobody, for whom the root-owned folder is
        # read-only; as another user, the folder loses its write bit.
        os.chmod(self.dir, 0o755)
        os.chmod(self.hosts, 0o644)
        prefix = []
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if not setpriv:
                self.skipTest("running as root without setpriv to drop to an unprivileged user")
            prefix = [setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
            probe = subprocess.run(prefix + [EXE, "--version"], capture_output=True, timeout=60)
            if probe.returncode != 0:
                self.skipTest("qhosts cannot run as nobody: " + probe.stderr.decode().strip())
        else:
            os.chmod(self.dir, 0o555)
            self.addCleanup(os.chmod, self.dir, 0o755)
        hint = "qhosts: hint: the system refused access; run qhosts as root (for example with sudo)\n"
        cases = [
            (["disable", "0"], ""),
            (["--backup", "disable", "0"], "cannot back up " + re.escape(self.hosts) + " to "),
        ]
        for args, start in cases:
            with self.subTest(args=args):
                proc = subprocess.run(prefix + [EXE, "--file", self.hosts] + args,
                                      capture_output=True, timeout=60)
                self.assertEqual(proc.returncode, 1)
                self.assertEqual(proc.stdout, b"")
                err = proc.stderr.decode()
                self.assertRegex(err, r"\Aqhosts: " + start + r"[^\n]*Permission denied\n")
                self.assertTrue(err.endswith(hint), err)
                self.assertEqual(len(err.splitlines()), 2, err)
                self.assertEqual(self.read_hosts(), FIXTURE.encode())

    @unittest.skipUnless(RUNNER, "the Windows build's hint")
    def test_refused_access_on_windows_adds_the_elevation_hint(self):
        # The library refuses a read-only hosts file with the system's words
        # for access denied, whoever runs it; that is enough to see the hint.
        os.chmod(self.hosts, 0o444)
        self.addCleanup(os.chmod, self.hosts, 0o644)
        err = self.assert_error(["disable", "0"], 1, r"\Aqhosts: rename [^\n]+\n")
        self.assertTrue(err.endswith("qhosts: hint: the system refused access; run qhosts "
                                     "from an elevated prompt (Run as administrator)\n"), err)
        self.assertEqual(len(err.splitlines()), 2, err)

    def test_shared_editing_cases(self):
        # The editing model's table (docs/editing.md). find prints the
        # chosen indexes, and like every command exits 1 when a target
        # chooses nothing.
        with open(CASES_FILE, encoding="utf-8") as f:
            table = json.load(f)
        errors = {"invalid": r"invalid (ip|name): ", "not_found": r"no record (named|with the address) ",
                  "out_of_range": r"index \d+ out of range \(count \d+\)"}
        ran = 0
        for case in table["cases"]:
            op, expect = case["op"], case["expect"]
            with self.subTest(case=case["name"]):
                start = table["files"][case["file"]].encode()
                self.write_hosts(start)
                if op in ("add", "set"):
                    args = [op, case["address"], case["hostname"]]
                    if "comment" in case:
                        args.append(case["comment"])
                else:
                    target = case["target"]
                    word = (str(target["index"]) if "index" in target
                            else "name=" + target["name"] if "name" in target
                            else "ip=" + target["address"])
                    args = [op, word]
                if "error" in expect or expect.get("result") == [] and op == "find":
                    kind = expect.get("error", "not_found")
                    self.assert_error(args, 1, r"\Aqhosts: " + errors[kind] + r"[^\n]*\n\Z")
                    ran += 1
                    continue
                out = self.run_ok(*args)
                if op == "find":
                    self.assertEqual(out, "".join(f"{i}\n" for i in expect["result"]))
                elif op == "add":
                    self.assertEqual(out, f"{expect['result']}\n")
                elif op == "set":
                    # set reports only what it changed: the kept record's
                    # index shows when it was added, updated or enabled.
                    for line in out.splitlines():
                        verb, index = line.split(":")[0].split()
                        if verb != "disabled":
                            self.assertEqual(int(index), expect["result"])
                else:
                    self.assertEqual(out, "")
                wanted = start if expect["file"] is None else expect["file"].encode()
                self.assertEqual(self.read_hosts(), wanted)
                ran += 1
        self.assertEqual(ran, len(table["cases"]), "not every case of the table ran")

    def test_help_and_version(self):
        code, out, err = self.run_qhosts("--help", use_file=False)
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith("usage: qhosts"), out)
        code, out, err = self.run_qhosts("--version", use_file=False)
        self.assertEqual((code, err), (0, ""))
        self.assertRegex(out, r"\A\d+\.\d+\.\d+\n\Z")


if __name__ == "__main__":
    unittest.main()
