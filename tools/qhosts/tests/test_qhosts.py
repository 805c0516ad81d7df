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


def as_dict(index, record):
    ip, name, enabled, comment = record
    return {"index": index, "ip": ip, "name": name, "enabled": int(enabled), "comment": comment}


def with_state(records, indices, enabled):
    return [
        (ip, name, enabled if i in indices else on, comment)
        for i, (ip, name, on, comment) in enumerate(records)
    ]


def without(records, indices):
    return [r for i, r in enumerate(records) if i not in indices]


def summary(record):
    ip, name, _, comment = record
    return f"{ip} {name}" + (f" # {comment}" if comment else "")


def change_lines(verb, records, indices):
    """What an edit prints for the records it changed, in index order."""
    return "".join(f"{verb} {i}: {summary(records[i])}\n" for i in sorted(indices))


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
        before = self.read_hosts() if os.path.exists(self.hosts) else None
        result = self.run_qhosts_once(*args, use_file=use_file)
        # On a loaded machine wine's own client can lose its server before
        # the program starts; that run did nothing, and runs again.
        code, out, err = result
        if (RUNNER and code != 0 and out == "" and err.startswith("wine client error")
                and (self.read_hosts() if os.path.exists(self.hosts) else None) == before):
            result = self.run_qhosts_once(*args, use_file=use_file)
        return result

    def run_qhosts_once(self, *args, use_file=True):
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

    def orig_notice(self):
        path = program_path(self.hosts)
        return (f"qhosts: kept {path} as it was in {path}.orig: a save writes entries first and "
                "other lines after them, without blank lines (qhosts restore --original puts "
                "it back)\n")

    def run_ok(self, *args):
        """Runs a command that must succeed; the notice of a first save that
        keeps the original file is the one thing allowed on stderr."""
        code, out, err = self.run_qhosts(*args)
        self.assertEqual((code, err.replace(self.orig_notice(), "")), (0, ""),
                         f"qhosts {' '.join(args)}")
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
        out = self.run_ok("list", "--json")
        self.assertEqual([json.loads(line) for line in out.splitlines()],
                         [as_dict(i, r) for i, r in enumerate(RECORDS)])
        # "index" comes first, and -j and --format json are the same output.
        self.assertTrue(out.startswith('{"index":0,'), out)
        self.assertEqual(self.run_ok("-j", "list"), out)
        self.assertEqual(self.run_ok("list", "--format", "json"), out)

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
            # --exact: the whole address by value, or the whole name.
            (["--exact", "10.0.0.05"], [3, 4]),
            (["--exact", "LOCALHOST"], [0, 1]),
            (["--exact", "10.0.0"], []),
            (["--exact", "lan"], []),
        ]
        for args, indices in cases:
            with self.subTest(args=args):
                self.assertEqual(self.list_json(*args), [as_dict(i, RECORDS[i]) for i in indices])
        table = self.run_ok("list", "--disabled").splitlines()
        self.assertEqual([line.split()[0] for line in table[1:]], ["5"])
        self.assertEqual(self.run_ok("list", "--format", "plain", "--exact", "10.0.0.5"),
                         "3\ton\t10.0.0.5\tbuild.lan\toffice\n4\ton\t10.0.0.5\tci.lan\toffice\n")

    def test_escaped_text_is_decoded(self):
        comment = 'say "hi" \\ now\tthen\x01end caf\u00e9'
        self.write_hosts(f"10.1.1.1 odd.lan # {comment}\n".encode())
        self.assertEqual(
            self.list_json(),
            [{"index": 0, "ip": "10.1.1.1", "name": "odd.lan", "enabled": 1, "comment": comment}],
        )
        row = self.run_ok("list").splitlines()[1]
        self.assertTrue(row.endswith('say "hi" \\ now?then?end caf\u00e9'), row)

    def test_add_prints_index_and_saves(self):
        cases = [
            (["10.9.9.9", "new.lan"], [("10.9.9.9", "new.lan", True, "")]),
            (["fd00::7", "v6.lan", "--comment", "lab box"], [("fd00::7", "v6.lan", True, "lab box")]),
            (["10.0.0.8", "a.lan", "b.lan", "-c", "pair"],
             [("10.0.0.8", "a.lan", True, "pair"), ("10.0.0.8", "b.lan", True, "pair")]),
        ]
        for args, added in cases:
            with self.subTest(args=args):
                self.write_hosts(FIXTURE.encode())
                records = RECORDS + added
                self.assertEqual(self.run_ok("add", *args),
                                 change_lines("added", records, range(len(RECORDS), len(records))))
                self.assertEqual(self.read_hosts(), render(records))

    def test_edits_by_index_and_name(self):
        cases = [
            (["disable", "0"], {0}),
            (["disable", "localhost"], {0, 1}),
            (["disable", "NAS.lan", "3"], {3, 6}),
            (["enable", "5"], {5}),
            (["enable", "old.lan"], {5}),
            (["remove", "2"], {2}),
            (["remove", "1", "4", "6"], {1, 4, 6}),
            (["remove", "6", "0", "3", "0"], {0, 3, 6}),
            (["remove", "localhost", "5"], {0, 1, 5}),
        ]
        for args, indices in cases:
            with self.subTest(args=args):
                self.write_hosts(FIXTURE.encode())
                verb = args[0] + "d"
                records = (without(RECORDS, indices) if verb == "removed"
                           else with_state(RECORDS, indices, verb == "enabled"))
                self.assertEqual(self.run_ok(*args), change_lines(verb, RECORDS, indices))
                self.assertEqual(self.read_hosts(), render(records))

    def test_dry_run_prints_result_and_changes_nothing(self):
        cases = [
            (["--dry-run", "add", "10.9.9.9", "new.lan"], RECORDS + [("10.9.9.9", "new.lan", True, "")]),
            (["disable", "ci.lan", "--dry-run"], with_state(RECORDS, {4}, False)),
            (["-n", "remove", "0", "6"], without(RECORDS, {0, 6})),
        ]
        # FIXTURE is not in the layout a save writes, which a dry run says.
        note = (f"qhosts: this save would rearrange {program_path(self.hosts)}: entries first, "
                "other lines after them, without blank lines\n")
        for args, records in cases:
            with self.subTest(args=args):
                code, out, err = self.run_qhosts(*args)
                self.assertEqual((code, out.encode(), err), (0, render(records), note))
                self.assertEqual(self.read_hosts(), FIXTURE.encode())
                if not RUNNER:
                    self.assertEqual(os.listdir(self.tmpdir), [], "temporary copy left behind")

    def test_failed_operations_exit_1_with_one_line(self):
        self.assert_error(["remove", "99"], 1, r"\Aqhosts: index 99 out of range \(count 7\)\n\Z")
        self.assert_error(["enable", "0", "99999999999999999999"], 1,
                          r"\Aqhosts: index 99999999999999999999 out of range \(count 7\)\n\Z")
        self.assert_error(["add", "999.1.1.1", "x.lan"], 1, r"\Aqhosts: [^\n]*999\.1\.1\.1[^\n]*\n\Z")
        self.assert_error(["add", "10.0.0.1", "x.lan", "Jo's box"], 1,
                          r"\Aqhosts: invalid name: 'Jo's box'\nqhosts: hint: give a comment with "
                          r"--comment TEXT\n\Z")
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
            ["--format", "yaml", "list"],
            ["list", "--json", "--format", "table"],
            ["list", "--exact"],
            ["--keep-backups", "2", "disable", "0"],
            ["--keep-backups", "x", "--backup", "disable", "0"],
            ["restore", "--original", "x"],
            ["import"],
            ["import", "a", "b"],
            ["add", "--from", "x", "10.0.0.1", "a.lan"],
            ["remove", "ip=10.0.0.0/33"],
            ["find", "comment="],
            ["help", "frobnicate"],
            ["-x", "list"],
            ["--quiet=yes", "list"],
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
            (["10.0.0.77", "NAS.lan", "--comment", "moved"],
             with_state(RECORDS, {6}, False) + [("10.0.0.77", "NAS.lan", True, "moved")],
             ["disabled 6: 192.168.1.20 nas.lan", "added 7: 10.0.0.77 NAS.lan # moved"]),
            (["10.0.0.5", "build.lan", "-c", "moved"],
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
            (["set", "10.0.0.5", "build.lan", "--comment", " office "], ""),
            (["add", "10.0.0.5", "build.lan"], "exists 3: 10.0.0.5 build.lan # office\n"),
            (["add", "0:0::1", "LOCALHOST", "--comment", "other comment"],
             "exists 1: ::1 localhost\n"),
            (["add", "10.0.0.5", "build.lan", "ci.lan"],
             "exists 3: 10.0.0.5 build.lan # office\nexists 4: 10.0.0.5 ci.lan # office\n"),
            (["enable", "localhost"], ""),
            (["disable", "old.lan"], ""),
            (["--dry-run", "set", "192.168.1.20", "nas.lan"], ""),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertEqual(self.run_ok(*args), out)
                self.assertEqual(self.read_hosts(), FIXTURE.encode())

    def test_add_of_a_disabled_entry_adds_an_enabled_one(self):
        self.assertEqual(self.run_ok("add", "10.0.0.9", "old.lan"), "added 7: 10.0.0.9 old.lan\n")
        self.assertEqual(self.read_hosts(), render(RECORDS + [("10.0.0.9", "old.lan", True, "")]))

    @unittest.skipIf(RUNNER or not os.path.exists("/dev/full"), "needs /dev/full (Linux)")
    def test_add_retried_after_a_failed_print_adds_once(self):
        with open("/dev/full", "w") as full:
            proc = subprocess.run([EXE, "--file", self.hosts, "add", "10.9.9.9", "x.lan"],
                                  stdout=full, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(self.run_ok("add", "10.9.9.9", "x.lan"), "exists 7: 10.9.9.9 x.lan\n")
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

    def test_targets_choose_records(self):
        # (words, records chosen); None: the target chooses nothing, exit 3.
        fixture = FIXTURE + "10.0.0.8 123\nfd00::12 v6.dev.lan # staging box\n"
        records = RECORDS + [("10.0.0.8", "123", True, ""),
                             ("fd00::12", "v6.dev.lan", True, "staging box")]
        cases = [
            (["name=123"], {7}),
            (["NAME=123"], None),
            (["name=NAS.lan", "0"], {0, 6}),
            (["ip=10.0.0.5"], {3, 4}),
            (["ip=0:0:0::1"], {1, 2}),
            (["ip=10.0.0.9", "ip=10.0.0.9"], {5}),
            (["ip=10.0.0.99"], None),
            # A bare address is taken as ip=, a bare range too.
            (["10.0.0.5"], {3, 4}),
            (["10.0.0.0/24"], {3, 4, 5, 7}),
            (["ip=10.0.0.0/8", "::1"], {1, 2, 3, 4, 5, 7}),
            (["fd00::/8"], {8}),
            (["0.0.0.0/0"], {0, 3, 4, 5, 6, 7}),
            (["ip=192.168.0.0/16"], {6}),
            (["ip=11.0.0.0/8"], None),
            # Globs on names, ignoring case.
            (["*.lan"], {3, 4, 5, 6, 8}),
            (["*.DEV.lan"], {8}),
            (["?i.lan"], {4}),
            (["[bc]*.lan"], {3, 4}),
            (["name=*host"], {0, 1, 2}),
            (["*.nothing"], None),
            # Comments: a substring ignoring case, or a glob on the whole.
            (["comment=OFF"], {3, 4}),
            (["comment~staging*"], {8}),
            (["comment~box"], None),
            (["comment=nothing"], None),
            # Every target must choose something.
            (["0", "nosuch.lan"], None),
        ]
        for words, chosen in cases:
            with self.subTest(words=words):
                self.write_hosts(fixture.encode())
                if chosen is None:
                    self.assert_error(["find"] + words, 3, r"\Aqhosts: no record [^\n]+\n\Z")
                    self.assert_error(["disable"] + words, 3, r"\Aqhosts: no record [^\n]+\n\Z")
                    continue
                self.assertEqual(self.run_ok("find", *words), "".join(f"{i}\n" for i in sorted(chosen)))
                self.assertEqual(self.run_ok("remove", *words), change_lines("removed", records, chosen))
                self.assertEqual(self.read_hosts(), render(without(records, chosen)))

    def test_ignore_missing_skips_what_matches_nothing(self):
        self.assert_error(["remove", "nosuch.lan", "0"], 3, r"\Aqhosts: no record named 'nosuch.lan'\n\Z")
        # Only what exists is removed; nothing at all is done, and exit 0.
        self.assertEqual(self.run_ok("--ignore-missing", "remove", "nosuch.lan", "0"),
                         change_lines("removed", RECORDS, {0}))
        before = self.read_hosts()
        self.assertEqual(self.run_ok("remove", "--ignore-missing", "nosuch.lan"), "")
        self.assertEqual(self.read_hosts(), before)
        self.assertEqual(self.run_ok("find", "nosuch.lan", "--ignore-missing"), "")

    def test_from_file_targets_its_entries(self):
        entries = os.path.join(self.dir, "entries")
        # Its disabled line and its refused line choose nothing.
        with open(entries, "w") as f:
            f.write("# from another machine\n10.0.0.5 CI.lan\n::1 ip6-localhost\n"
                    "# 192.168.1.20 nas.lan\n999.1.1.1 localhost\n")
        source = program_path(entries)
        self.assertEqual(self.run_ok("find", "--from", source), "2\n4\n")
        self.assertEqual(self.run_ok("disable", "--from", source), "disabled 2 records\n")
        self.assertEqual(self.read_hosts(), render(with_state(RECORDS, {2, 4}, False)))
        self.assertEqual(self.run_ok("remove", "--from", source, "old.lan"), "removed 3 records\n")
        self.assertEqual(self.read_hosts(), render(without(RECORDS, {2, 4, 5})))
        self.assert_error(["remove", "--from", source], 3, r"\Aqhosts: no record is an entry of ")
        self.assert_error(["remove", "--from", program_path(entries + ".missing")], 1,
                          r"\Aqhosts: cannot read [^\n]*: it does not exist\n\Z")

    def test_read_commands_refuse_a_missing_file(self):
        missing = program_path(os.path.join(self.dir, "hsots"))
        for args in (["list"], ["check"], ["find", "0"], ["list", "--json"]):
            with self.subTest(args=args):
                code, out, err = self.run_qhosts("--file", missing, *args, use_file=False)
                self.assertEqual((code, out, err), (1, "", f"qhosts: {missing} does not exist\n"))
        # An edit creates the file, as ever.
        code, out, err = self.run_qhosts("-f", missing, "add", "10.0.0.1", "a.lan", use_file=False)
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(self.read_file(os.path.join(self.dir, "hsots")), b"10.0.0.1 a.lan\n")

    def backups(self):
        return sorted(name for name in os.listdir(self.dir) if ".bak." in name)

    def test_backups_are_dated_and_kept_to_a_number(self):
        stamp = r"hosts\.bak\.\d{8}-\d{6}(-\d+)?"
        contents = [self.read_hosts()]
        for index in (6, 5, 4):
            self.run_ok("--backup", "remove", str(index))
            contents.append(self.read_hosts())
        made = self.backups()
        self.assertEqual(len(made), 3)
        for name in made:
            self.assertRegex(name, r"\A" + stamp + r"\Z")
        listed = self.run_ok("backups").splitlines()
        self.assertEqual([os.path.basename(line.replace("\\", "/")) for line in listed],
                         sorted(made, key=lambda n: (n[:25], int(n[26:] or 1))))
        # Oldest first: each backup holds the file as the next edit found it.
        for path, content in zip(listed, contents):
            self.assertEqual(self.read_file(os.path.join(self.dir, os.path.basename(
                path.replace("\\", "/")))), content)
        # Nothing to change, nothing replaced: no backup.
        self.run_ok("--backup", "set", "10.0.0.5", "build.lan")
        self.assertEqual(self.backups(), made)
        # The oldest beyond the newest N go.
        self.run_ok("--backup", "--keep-backups", "2", "remove", "0")
        kept = self.run_ok("backups").splitlines()
        self.assertEqual(len(kept), 2)
        self.assertEqual(kept[0], listed[-1])
        self.assertEqual(len(self.backups()), 2)

    def test_backup_of_an_absent_file_is_skipped(self):
        os.remove(self.hosts)
        self.assertEqual(self.run_ok("--backup", "add", "10.0.0.1", "a.lan"), "added 0: 10.0.0.1 a.lan\n")
        self.assertEqual(self.read_hosts(), b"10.0.0.1 a.lan\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["hosts", "tmp"])

    @unittest.skipIf(RUNNER, "file modes are a Linux matter")
    def test_backup_keeps_the_mode(self):
        os.chmod(self.hosts, 0o640)
        self.run_ok("--backup", "disable", "0")
        for name in self.backups() + ["hosts.orig"]:
            self.assertEqual(os.stat(os.path.join(self.dir, name)).st_mode & 0o7777, 0o640, name)

    @unittest.skipIf(RUNNER, "the access test uses Linux users")
    def test_refused_access_adds_the_elevation_hint(self):
        # A folder this user may read but not write: as root, qhosts runs as
        # the unprivileged user nobody, for whom the root-owned folder is
        # read-only; as another user, the folder loses its write bit.
        # Already in the layout a save writes, so that no PATH.orig is due
        # and the backup is the first thing written.
        self.write_hosts(render(RECORDS))
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
                self.assertEqual(self.read_hosts(), render(RECORDS))

    @unittest.skipUnless(RUNNER, "the Windows build's hint")
    def test_refused_access_on_windows_adds_the_elevation_hint(self):
        # The library refuses a read-only hosts file with the system's words
        # for access denied, whoever runs it; that is enough to see the hint.
        # The file is laid out as a save writes it, so no PATH.orig is due.
        self.write_hosts(render(RECORDS))
        os.chmod(self.hosts, 0o444)
        self.addCleanup(os.chmod, self.hosts, 0o644)
        err = self.assert_error(["disable", "0"], 1, r"\Aqhosts: rename [^\n]+\n")
        self.assertTrue(err.endswith("qhosts: hint: the system refused access; run qhosts "
                                     "from an elevated prompt (Run as administrator)\n"), err)
        self.assertEqual(len(err.splitlines()), 2, err)

    def test_shared_editing_cases(self):
        # The editing model's table (docs/editing.md). find prints the
        # chosen indexes, and like every command that takes TARGETs exits 3
        # when a target chooses nothing.
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
                        args += ["--comment", case["comment"]]
                else:
                    target = case["target"]
                    word = (str(target["index"]) if "index" in target
                            else "name=" + target["name"] if "name" in target
                            else "ip=" + target["address"])
                    args = [op, word]
                if "error" in expect or expect.get("result") == [] and op == "find":
                    kind = expect.get("error", "not_found")
                    self.assert_error(args, 3 if kind == "not_found" else 1,
                                      r"\Aqhosts: " + errors[kind] + r"[^\n]*\n\Z")
                    ran += 1
                    continue
                out = self.run_ok(*args)
                if op == "find":
                    self.assertEqual(out, "".join(f"{i}\n" for i in expect["result"]))
                elif op == "add":
                    verb = "exists" if expect["file"] is None else "added"
                    self.assertRegex(out, rf"\A{verb} {expect['result']}: [^\n]+\n\Z")
                elif op == "set":
                    # set reports only what it changed: the kept record's
                    # index shows when it was added, updated or enabled.
                    for line in out.splitlines():
                        verb, index = line.split(":")[0].split()
                        if verb != "disabled":
                            self.assertEqual(int(index), expect["result"])
                elif expect["file"] is None:
                    self.assertEqual(out, "")
                else:
                    # One line per record changed.
                    self.assertRegex(out, rf"\A({op}d \d+: [^\n]+\n)+\Z")
                wanted = start if expect["file"] is None else expect["file"].encode()
                self.assertEqual(self.read_hosts(), wanted)
                ran += 1
        self.assertEqual(ran, len(table["cases"]), "not every case of the table ran")

    def test_help_and_version(self):
        code, out, err = self.run_qhosts("--help", use_file=False)
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith("usage: qhosts"), out)
        commands = re.findall(r"^  (\w+)", out.split("commands:\n")[1].split("\n\n")[0], re.M)
        self.assertIn("import", commands)
        for name in commands:
            with self.subTest(command=name):
                code, out, err = self.run_qhosts("help", name, use_file=False)
                self.assertEqual((code, err), (0, ""))
                self.assertTrue(out.startswith(f"usage: qhosts [OPTIONS] {name}"), out)
                self.assertIn("\nexample:\n  qhosts ", out)
                self.assertEqual(self.run_qhosts(name, "--help", use_file=False), (0, out, ""))
        code, out, err = self.run_qhosts("--version", use_file=False)
        self.assertEqual((code, err), (0, ""))
        self.assertRegex(out, r"\Aqhosts \d+\.\d+\.\d+ \(library \d+\.\d+\.\d+\)\n\Z")

    # The command lines of the features that users of other hosts tools
    # reach for: (arguments, file before, file after or None when it is left
    # as it was, standard output, exit status). "@NAME" is a file of
    # EXTRA_FILES beside the hosts file.
    EXTRA_FILES = {
        "block": "# blocklist\n0.0.0.0 ads.example tracker.example\n0.0.0.0 ads.example\n"
                 "0.0.0.0 bad!name\n# 0.0.0.0 off.example\n0.0.0.0 pixel.example # pixels\n",
    }
    LAID_OUT = "127.0.0.1 localhost\n10.0.0.5 build.lan # office\n# 10.0.0.9 old.lan\n"
    COMMAND_TABLE = [
        (["set", "10.0.0.7", "a.lan", "build.lan"], LAID_OUT,
         "127.0.0.1 localhost\n# 10.0.0.5 build.lan # office\n# 10.0.0.9 old.lan\n"
         "10.0.0.7 a.lan\n10.0.0.7 build.lan\n",
         "added 3: 10.0.0.7 a.lan\ndisabled 1: 10.0.0.5 build.lan # office\n"
         "added 4: 10.0.0.7 build.lan\n", 0),
        (["add", "10.0.0.5", "build.lan", "ci.lan"], LAID_OUT,
         LAID_OUT + "10.0.0.5 ci.lan\n",
         "exists 1: 10.0.0.5 build.lan # office\nadded 3: 10.0.0.5 ci.lan\n", 0),
        (["import", "@block"], LAID_OUT,
         LAID_OUT + "0.0.0.0 ads.example\n0.0.0.0 tracker.example\n0.0.0.0 pixel.example # pixels\n",
         "imported @block: added 3, skipped 1 already there, refused 1\n", 0),
        (["import", "@block", "--disabled", "-c", "blocklist"], LAID_OUT,
         LAID_OUT + "# 0.0.0.0 ads.example # blocklist\n# 0.0.0.0 tracker.example # blocklist\n"
         "# 0.0.0.0 pixel.example # blocklist\n",
         "imported @block: added 3, skipped 1 already there, refused 1\n", 0),
        (["import", "@block"], LAID_OUT + "0.0.0.0 ads.example\n0.0.0.0 tracker.example\n"
         "0.0.0.0 pixel.example\n", None,
         "imported @block: added 0, skipped 4 already there, refused 1\n", 0),
        (["remove", "--from", "@block"], LAID_OUT + "0.0.0.0 ads.example\n# 0.0.0.0 pixel.example\n",
         LAID_OUT, "removed 2 records\n", 0),
        (["-n", "import", "@block"], LAID_OUT, None,
         LAID_OUT + "0.0.0.0 ads.example\n0.0.0.0 tracker.example\n0.0.0.0 pixel.example # pixels\n",
         0),
        (["-q", "disable", "*.lan"], LAID_OUT,
         "127.0.0.1 localhost\n# 10.0.0.5 build.lan # office\n# 10.0.0.9 old.lan\n", "", 0),
        (["remove", "10.0.0.11"], LAID_OUT, None, "", 3),
        (["remove", "10.0.0.9"], LAID_OUT, "127.0.0.1 localhost\n10.0.0.5 build.lan # office\n",
         "removed 2: 10.0.0.9 old.lan\n", 0),
        (["enable", "old.lan", "--ignore-missing", "gone.lan"], LAID_OUT,
         "127.0.0.1 localhost\n10.0.0.5 build.lan # office\n10.0.0.9 old.lan\n",
         "enabled 2: 10.0.0.9 old.lan\n", 0),
        (["disable", "old.lan"], LAID_OUT, None, "", 0),
        (["check"], LAID_OUT + "999.1.1.1 broken.lan\nbad_name! 10.0.0.1\n10.0.0.2 " + "a" * 300 +
         "\n# 10.0.0.9 old.lan#retired\n# 10.0.0.1 is the gateway's address\n10.0.0.3\n", None,
         "broken: line 4: 999.1.1.1 broken.lan (invalid ip: '999.1.1.1')\n"
         "broken: line 5: bad_name! 10.0.0.1 (invalid ip: 'bad_name!')\n"
         "broken: line 6: 10.0.0.2 " + "a" * 300 + " (invalid name: '" + "a" * 300 + "')\n"
         "broken: line 7: # 10.0.0.9 old.lan#retired (invalid name: 'old.lan#retired')\n"
         "broken: line 9: 10.0.0.3 (no host name after the address)\n", 1),
        (["check", "-j"], LAID_OUT + "\n# a comment\n10.0.0.1 web.lan#x\n999.1.1.1 x.lan # why\n", None,
         '{"problem":"broken","line":7,"text":"999.1.1.1 x.lan # why",'
         '"reason":"invalid ip: \'999.1.1.1\'"}\n', 1),
        (["check"], LAID_OUT, None, "", 0),
        (["find", "ip=fd00::/8", "comment~off*"], LAID_OUT + "fd00::1 v6.lan\n", None, "1\n3\n", 0),
    ]

    def test_command_table(self):
        for args, before, after, out, code in self.COMMAND_TABLE:
            with self.subTest(args=args, before=before):
                for name, text in self.EXTRA_FILES.items():
                    with open(os.path.join(self.dir, name), "w") as f:
                        f.write(text)
                self.write_hosts(before.encode())
                words = [program_path(os.path.join(self.dir, a[1:])) if a.startswith("@") else a
                         for a in args]
                got_code, got_out, err = self.run_qhosts(*words)
                expected_out = out.replace("@block", program_path(os.path.join(self.dir, "block")))
                self.assertEqual((got_code, got_out), (code, expected_out), err)
                self.assertEqual(self.read_hosts(), (before if after is None else after).encode())
                self.assertFalse(os.path.exists(self.hosts + ".orig"), "a laid-out file kept")

    def test_first_rearranging_save_keeps_the_original(self):
        sectioned = ("# managed by hand\n\n# --- lab ---\n10.0.0.5 build.lan ci.lan\n\n"
                     "# --- home ---\r\n192.168.1.20 nas.lan\n").encode()
        self.write_hosts(sectioned)
        original = self.hosts + ".orig"
        code, out, err = self.run_qhosts("disable", "ci.lan")
        self.assertEqual((code, err), (0, self.orig_notice()))
        self.assertEqual(self.read_file(original), sectioned)
        first = self.read_hosts()
        self.assertEqual(first, b"10.0.0.5 build.lan\n# 10.0.0.5 ci.lan\n192.168.1.20 nas.lan\n"
                                b"# managed by hand\n# --- lab ---\n# --- home ---\n")
        # A second edit says nothing of it and leaves it alone.
        self.write_hosts(first + b"\n# added by hand\n")
        code, out, err = self.run_qhosts("enable", "ci.lan")
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(self.read_file(original), sectioned)
        self.assertEqual(self.run_ok("restore", "--original").splitlines()[0][:9], "restored ")
        self.assertEqual(self.read_hosts(), sectioned)
        # What restore replaced is a dated backup, which restore brings back.
        self.run_ok("restore")
        self.assertEqual(self.read_hosts(), first.replace(b"# 10.0.0.5 ci", b"10.0.0.5 ci")
                         + b"# added by hand\n")
        code, out, err = self.run_qhosts("restore", "--original", "-n")
        self.assertEqual((code, out.encode(), err), (0, sectioned, ""))

    def test_restore_chooses_a_backup_by_name_or_stamp(self):
        self.write_hosts(render(RECORDS))
        self.assert_error(["restore"], 1, r"\Aqhosts: no backups of ")
        self.assert_error(["restore", "--original"], 1, r"\Aqhosts: no [^\n]*\.orig: ")
        states = [self.read_hosts()]
        for index in ("6", "5"):
            self.run_ok("--backup", "remove", index)
            states.append(self.read_hosts())
        oldest, newer = self.run_ok("backups").splitlines()
        stamp = oldest.split(".bak.")[1]
        for choice in (oldest, os.path.basename(oldest.replace("\\", "/")), stamp):
            with self.subTest(choice=choice):
                self.write_hosts(states[2])
                out = self.run_ok("restore", choice)
                self.assertRegex(out, r"\Arestored .* from .*; what it held is in .*\.bak\.")
                self.assertEqual(self.read_hosts(), states[0])
        self.assert_error(["restore", "19990101-000000"], 1, r"\Aqhosts: no backup '19990101")
        # The backup chosen is never pruned to make room for the one of the
        # file it replaces.
        self.write_hosts(states[2])
        self.run_ok("restore", stamp, "--keep-backups", "1")
        self.assertTrue(os.path.exists(os.path.join(self.dir, os.path.basename(
            oldest.replace("\\", "/")))))

    def test_blocklist_import_and_removal_round_trip(self):
        # A generated blocklist of 150,000 entries into a small hosts file,
        # and out again: one save each, which --backup shows as one backup.
        self.write_hosts(render(RECORDS))
        before = self.read_hosts()
        blocklist = os.path.join(self.dir, "blocklist")
        with open(blocklist, "w") as f:
            f.write("# generated blocklist\n")
            for i in range(150000):
                f.write(f"0.0.0.0 ads{i}.tracker{i % 97}.example\n")
        source = program_path(blocklist)
        out = self.run_ok("--backup", "import", source)
        self.assertEqual(out, f"imported {source}: added 150000, skipped 0 already there\n")
        self.assertEqual(len(self.backups()), 1)
        records = self.list_json()
        self.assertEqual(len(records), len(RECORDS) + 150000)
        self.assertEqual(records[-1]["name"], f"ads149999.tracker{149999 % 97}.example")
        self.assertEqual(self.run_ok("import", source),
                         f"imported {source}: added 0, skipped 150000 already there\n")
        self.assertEqual(self.run_ok("--backup", "remove", "--from", source),
                         "removed 150000 records\n")
        self.assertEqual(len(self.backups()), 2)
        self.assertEqual(self.read_hosts(), before)

    def test_quiet_prints_no_report(self):
        code, out, err = self.run_qhosts("-q", "disable", "nas.lan")
        self.assertEqual((code, out, err), (0, "", ""))
        self.assertEqual(self.read_hosts(), render(with_state(RECORDS, {6}, False)))
        self.assertTrue(os.path.exists(self.hosts + ".orig"))


if __name__ == "__main__":
    unittest.main()
