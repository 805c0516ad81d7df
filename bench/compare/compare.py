#!/usr/bin/env python3
"""Times the library against the physical floor, an earlier build and hostile.

Run through scripts/compare.sh, which builds the programs (and an earlier
commit's qh_runner in a side tree) and installs the npm package hostile into
the work folder. On generated files of 150,000 and 1,000,000 records it
times, as medians and worst runs over several runs, each a separate process
started from here:

  floor     cat FILE >/dev/null, cp FILE COPY (and, for reference, a copy
            with its data flushed to disk, which the library's save does,
            and a program that only writes to every page of as much new
            memory as the loaded records take, on 4 KiB pages and on
            transparent huge pages as the library's large tables are; one
            record's size comes from the build, through qh_record_size)
  qh_runner list: load + every record through hosts_get;
            edit: load + add + remove + save, one process
  earlier   the same qh_runner built from the earlier commit
  qhosts    list --json >/dev/null; edit: add, then remove by the printed
            index: two processes, so two loads and two saves
  hostile   the same list and edit through bench/compare/hostile_runner.js

and the import of a 150,000-entry blocklist into a small ordinary hosts
file: `qhosts import` against what hostile's own CLI does for `hostile load`
(one hostile.set, so one whole read and write of the file, per entry). That
is quadratic, so hostile is timed on the largest prefix of the blocklist
that it loads within --hostile-budget seconds, found in the same run by
doubling from 1,000 entries, and its time for all of them is extrapolated.
`--only import` times the import alone.

An edited copy is put back before every timed run, outside the timing, and
the runs of all commands are interleaved, in a new order each round, so that
background load hits them alike. The system hosts file is never named; the
script checks that it is unchanged at the end.
"""

import argparse
import collections
import json
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

SYSTEM_HOSTS = "/etc/hosts"
SMALL_RECORDS = 150000
EDIT_IP = "10.11.12.13"
EDIT_NAME = "qh-compare-edit.invalid"
IMPORT_ENTRIES = 150000
FIRST_PROBE = 1000
SMALL_HOSTS = """\
# Static table of host names, see hosts(5).
# Loopback and LAN names of this machine.
127.0.0.1\tlocalhost
127.0.1.1\tbench-box.lan bench-box
::1\tlocalhost ip6-localhost ip6-loopback
ff02::1\tip6-allnodes
ff02::2\tip6-allrouters

# LAN
192.168.1.1\trouter.lan
192.168.1.10\tnas.lan nas
192.168.1.20\tprinter.lan
"""


def run_checked(args, env=None, stdout=subprocess.PIPE):
    proc = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=stdout,
                          stderr=subprocess.PIPE, env=env)
    if proc.returncode != 0:
        sys.exit(f"compare: {' '.join(args)} failed ({proc.returncode}): "
                 f"{proc.stderr.decode(errors='replace').strip()}")
    return proc.stdout.decode() if stdout == subprocess.PIPE else ""


def record_bytes(bin_dir):
    """The bytes of one of the library's fixed-width records, as its build says."""
    text = run_checked([os.path.join(bin_dir, "qh_record_size")]).strip()
    if not text.isdigit() or int(text) == 0:
        sys.exit(f"compare: qh_record_size printed {text!r}, not a size in bytes")
    return int(text)


class Case:
    """The files and commands for one size."""

    def __init__(self, args, records):
        self.records = records
        self.memory = records * args.record_bytes
        work = args.work
        self.original = os.path.join(work, f"hosts-{records}")
        self.edited = os.path.join(work, f"edited-{records}")
        self.copy = os.path.join(work, f"copy-{records}")
        self.runner = os.path.join(args.bin, "qh_runner")
        self.baseline = args.baseline
        self.qhosts = os.path.join(args.bin, "qhosts")
        self.node = ["node", args.hostile_runner]
        self.node_env = dict(os.environ, NODE_PATH=os.path.join(work, "node_modules"))

    def fresh_edit_copy(self):
        shutil.copyfile(self.original, self.edited)

    def no_copy(self):
        if os.path.exists(self.copy):
            os.remove(self.copy)

    def qhosts_edit(self):
        said = run_checked([self.qhosts, "--file", self.edited, "add", EDIT_IP, EDIT_NAME])
        # "added N: IP NAME"; an older qhosts printed the index alone.
        index = re.match(r"\s*(?:added )?(\d+)", said)
        if not index:
            sys.exit(f"compare: qhosts add printed {said.strip()!r}, no index")
        run_checked([self.qhosts, "--file", self.edited, "remove", index.group(1)])

    def commands(self):
        """(key, label, reset before the run, timed work)."""
        devnull = subprocess.DEVNULL
        return [
            ("cat", "cat FILE >/dev/null", None,
             lambda: run_checked(["cat", self.original], stdout=devnull)),
            ("cp", "cp FILE COPY", self.no_copy,
             lambda: run_checked(["cp", self.original, self.copy])),
            ("dd", "dd conv=fsync (copy, flushed)", self.no_copy,
             lambda: run_checked(["dd", f"if={self.original}", f"of={self.copy}", "bs=1M",
                                  "conv=fsync", "status=none"])),
            ("touch", "touch the records' memory (floor)", None,
             lambda: run_checked([self.runner, "touch", str(self.memory)])),
            ("touch_huge", "the same on huge pages (huge-page floor)", None,
             lambda: run_checked([self.runner, "touch-huge", str(self.memory)])),
            ("runner_list", "qh_runner list", None,
             lambda: run_checked([self.runner, "list", self.original])),
            ("runner_edit", "qh_runner edit (load+add+remove+save)", self.fresh_edit_copy,
             lambda: run_checked([self.runner, "edit", self.edited])),
        ] + ([
            ("base_list", "qh_runner list, earlier build", None,
             lambda: run_checked([self.baseline, "list", self.original])),
            ("base_edit", "qh_runner edit, earlier build", self.fresh_edit_copy,
             lambda: run_checked([self.baseline, "edit", self.edited])),
        ] if self.baseline else []) + [
            ("qhosts_list", "qhosts list --json >/dev/null", None,
             lambda: run_checked([self.qhosts, "--file", self.original, "list", "--json"],
                                 stdout=devnull)),
            ("qhosts_edit", "qhosts add + qhosts remove (2 processes)", self.fresh_edit_copy,
             self.qhosts_edit),
            ("hostile_list", "hostile list (node)", None,
             lambda: run_checked(self.node + ["list", self.original], env=self.node_env)),
            ("hostile_edit", "hostile load+add+remove+write (node)", self.fresh_edit_copy,
             lambda: run_checked(self.node + ["edit", self.edited], env=self.node_env)),
        ]

    def check_counts(self):
        """What each side reads from the generated file and from its own edit."""
        counts = {"runner": int(run_checked([self.runner, "list", self.original]))}
        counts["hostile"] = int(run_checked(self.node + ["list", self.original], env=self.node_env))
        if counts["runner"] != self.records:
            sys.exit(f"compare: qh_runner lists {counts['runner']} records, "
                     f"the file was generated with {self.records}")
        self.fresh_edit_copy()
        run_checked([self.runner, "edit", self.edited])
        if int(run_checked([self.runner, "list", self.edited])) != self.records:
            sys.exit("compare: qh_runner's edit changed the record count")
        self.fresh_edit_copy()
        run_checked(self.node + ["edit", self.edited], env=self.node_env)
        after = int(run_checked(self.node + ["list", self.edited], env=self.node_env))
        if after != counts["hostile"]:
            sys.exit("compare: hostile's edit changed its entry count")
        return counts


def measure(case, runs, seed):
    """Per command: (median, worst) over `runs` runs."""
    commands = case.commands()
    times = {key: [] for key, _, _, _ in commands}
    # A new order each round: on a virtual machine that hands freed memory
    # back to its host, a process that follows a big one can find its fresh
    # memory slow to come back, and no command should always be that one.
    order = random.Random(seed)
    for _ in range(runs):
        for key, _, reset, work in order.sample(commands, len(commands)):
            if reset:
                reset()
            start = time.perf_counter()
            work()
            times[key].append(time.perf_counter() - start)
    return commands, {key: (statistics.median(values), max(values))
                      for key, values in times.items()}


def report(case, runs, counts, commands, timed, baseline_name):
    size_mb = os.path.getsize(case.original) / 1e6
    print(f"\n{case.records:,} records, {size_mb:.1f} MB; {runs} runs")
    print(f"  (qh_runner reads {counts['runner']:,} records; hostile reads "
          f"{counts['hostile']:,} entries: it makes one entry of a line with several names "
          f"and skips commented-out ones)")
    print(f"  {'':44s} {'median':>9s}    {'worst':>9s}")
    for key, label, _, _ in commands:
        if key.startswith("base_"):
            label = label.replace("earlier build", baseline_name)
        median, worst = timed[key]
        print(f"  {label:44s} {median * 1000:9.1f} ms {worst * 1000:9.1f} ms")

    def ratio(a, b):
        return timed[a][0] / timed[b][0]

    names = {"cp": "cp", "touch": "memory floor", "touch_huge": "huge-page floor",
             "runner_edit": "qh_runner edit", "runner_list": "qh_runner list",
             "base_edit": f"{baseline_name} edit", "base_list": f"{baseline_name} list",
             "qhosts_edit": "qhosts edit", "qhosts_list": "qhosts list",
             "hostile_edit": "hostile edit", "hostile_list": "hostile list"}
    pairs = [("touch", "cp"), ("touch_huge", "cp"), ("runner_edit", "cp"), ("runner_list", "cp"),
             ("runner_edit", "touch_huge"), ("runner_list", "touch_huge"),
             ("base_edit", "runner_edit"), ("base_list", "runner_list"),
             ("hostile_edit", "runner_edit"), ("hostile_list", "runner_list"),
             ("qhosts_edit", "cp"), ("qhosts_list", "cp"),
             ("hostile_edit", "qhosts_edit"), ("hostile_list", "qhosts_list")]
    print("  ratios of medians")
    for a, b in pairs:
        if a in timed and b in timed:
            print(f"  {names[a] + ' / ' + names[b]:44s} {ratio(a, b):9.2f}x")

    print(f"  targets on {case.records:,} records")
    met = 0
    checks = []
    for work in ("list", "edit"):
        mine = f"runner_{work}"
        checks += [
            (f"{work}: at most half the time of {baseline_name}", mine, f"base_{work}",
             lambda x: x <= 0.5),
            (f"{work}: at least 3x faster than hostile", f"hostile_{work}", mine,
             lambda x: x >= 3),
            (f"{work}: within 1.5x of the huge-page floor", mine, "touch_huge", lambda x: x <= 1.5),
        ]
    for text, a, b, ok in checks:
        if a not in timed or b not in timed:
            print(f"  {text:50s} {'':30s} {'':>8s}  not measured")
            continue
        value = ratio(a, b)
        met += ok(value)
        print(f"  {text:50s} {names[a] + ' / ' + names[b]:30s} {value:7.2f}x  "
              f"{'met' if ok(value) else 'NOT MET'}")
    for key in ("runner_list", "runner_edit"):
        median, worst = timed[key]
        ok = worst <= 1.5 * median
        met += ok
        print(f"  {names[key] + ': worst run within 1.5x of the median':50s} "
              f"{'worst / median':30s} {worst / median:7.2f}x  {'met' if ok else 'NOT MET'}")
    return met, len(checks) + 2


def blocklist_line(i):
    return f"0.0.0.0 host{i}.example"


def write_blocklist(path, entries):
    with open(path, "w") as f:
        f.write(f"# Blocklist: {entries} generated entries\n\n")
        f.writelines(blocklist_line(i) + "\n" for i in range(1, entries + 1))


class Import:
    """A blocklist imported into a fresh copy of a small hosts file."""

    def __init__(self, args):
        work = args.work
        self.budget = args.hostile_budget
        self.qhosts = os.path.join(args.bin, "qhosts")
        self.node = ["node", args.hostile_runner]
        self.node_env = dict(os.environ, NODE_PATH=os.path.join(work, "node_modules"))
        self.small = os.path.join(work, "import-small-hosts")
        self.copy = os.path.join(work, "import-copy")
        self.blocklist = os.path.join(work, f"blocklist-{IMPORT_ENTRIES}")
        with open(self.small, "w") as f:
            f.write(SMALL_HOSTS)
        write_blocklist(self.blocklist, IMPORT_ENTRIES)
        self.prefix = None
        self.probes = []

    def fresh_copy(self):
        shutil.copyfile(self.small, self.copy)

    def no_copy(self):
        # qhosts keeps a file's first layout beside it as FILE.orig.
        for path in (self.copy, self.copy + ".orig"):
            if os.path.exists(path):
                os.remove(path)

    def prefix_list(self, entries):
        """A file of the blocklist's first `entries` entries."""
        if entries == IMPORT_ENTRIES:
            return self.blocklist
        path = os.path.join(os.path.dirname(self.blocklist), f"blocklist-{entries}")
        write_blocklist(path, entries)
        return path

    def qhosts_import(self, blocklist):
        return lambda: run_checked([self.qhosts, "--file", self.copy, "import", blocklist])

    def hostile_load(self, blocklist):
        return lambda: run_checked(self.node + ["load", blocklist, self.copy], env=self.node_env,
                                   stdout=subprocess.DEVNULL)

    def find_prefix(self):
        """The largest prefix, doubling from FIRST_PROBE, that hostile loads within the budget."""
        entries = FIRST_PROBE
        while True:
            blocklist = self.prefix_list(entries)
            self.fresh_copy()
            start = time.perf_counter()
            try:
                subprocess.run(self.node + ["load", blocklist, self.copy], env=self.node_env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, timeout=self.budget, check=True)
            except subprocess.TimeoutExpired:
                self.probes.append((entries, None))
                break
            except subprocess.CalledProcessError as err:
                sys.exit(f"compare: hostile load of {entries} entries failed ({err.returncode}): "
                         f"{err.stderr.decode(errors='replace').strip()}")
            self.probes.append((entries, time.perf_counter() - start))
            self.prefix = entries
            if entries == IMPORT_ENTRIES:
                break
            entries = min(2 * entries, IMPORT_ENTRIES)
        if self.prefix is None:
            sys.exit(f"compare: hostile did not load {FIRST_PROBE:,} entries within "
                     f"{self.budget} s; give it a larger --hostile-budget")
        self.prefix_file = self.prefix_list(self.prefix)
        self.half_file = self.prefix_list(self.prefix // 2)

    def qhosts_records(self):
        lines = run_checked([self.qhosts, "--file", self.copy, "list", "--json"]).splitlines()
        records = (json.loads(line) for line in lines)
        return collections.Counter((r["ip"], r["name"], r["enabled"], r["comment"])
                                   for r in records)

    def check(self):
        """Each side's file holds the small file's entries and the blocklist's, once each."""
        self.fresh_copy()
        small = self.qhosts_records()
        for entries, blocklist in sorted({(IMPORT_ENTRIES, self.blocklist),
                                          (self.prefix, self.prefix_file)}):
            self.fresh_copy()
            said = run_checked([self.qhosts, "--file", self.copy, "import", blocklist])
            counts = re.search(r"added (\d+), skipped (\d+)", said)
            if not counts or counts.groups() != (str(entries), "0"):
                sys.exit(f"compare: qhosts import of {entries} entries said {said.strip()!r}")
            records = self.qhosts_records()
            added = records - small
            names = {name for ip, name, enabled, comment in added
                     if (ip, enabled, comment) == ("0.0.0.0", 1, "")}
            if (small - records or sum(added.values()) != entries or len(names) != entries
                    or names != {f"host{i}.example" for i in range(1, entries + 1)}):
                sys.exit(f"compare: after qhosts import of {entries:,} entries the file lists "
                         f"{sum(records.values()):,} records, not the small file's "
                         f"{sum(small.values())} and the {entries:,} imported")

        self.fresh_copy()
        before = int(run_checked(self.node + ["list", self.copy], env=self.node_env))
        run_checked(self.node + ["load", self.prefix_file, self.copy], env=self.node_env)
        after = int(run_checked(self.node + ["list", self.copy], env=self.node_env))
        with open(self.copy) as f:
            loaded = [line.rstrip("\n") for line in f if line.startswith("0.0.0.0 ")]
        if (after != before + self.prefix or len(loaded) != self.prefix
                or set(loaded) != {blocklist_line(i) for i in range(1, self.prefix + 1)}):
            sys.exit(f"compare: after hostile's load of {self.prefix:,} entries its file has "
                     f"{after:,} entries and {len(loaded):,} of the blocklist's lines, "
                     f"not {before} + {self.prefix:,}")
        self.small_entries = (sum(small.values()), before)

    def commands(self):
        n = f"{self.prefix:,}"
        return [
            ("qhosts_import", f"qhosts import ({IMPORT_ENTRIES:,} entries)", self.fresh_copy,
             self.qhosts_import(self.blocklist)),
            ("qhosts_prefix", f"qhosts import ({n} entries)", self.fresh_copy,
             self.qhosts_import(self.prefix_file)),
            ("hostile_half", f"hostile load (node, {self.prefix // 2:,} entries)", self.fresh_copy,
             self.hostile_load(self.half_file)),
            ("hostile_load", f"hostile load (node, {n} entries)", self.fresh_copy,
             self.hostile_load(self.prefix_file)),
        ]


def report_import(imp, runs, commands, timed):
    size_mb = os.path.getsize(imp.blocklist) / 1e6
    lines = SMALL_HOSTS.count("\n")
    print(f"\nimport: a {IMPORT_ENTRIES:,}-entry blocklist, {size_mb:.1f} MB, into a {lines}-line "
          f"hosts file ({imp.small_entries[0]} records for qhosts, {imp.small_entries[1]} "
          f"entries for hostile); {runs} runs")
    probes = ", ".join(f"{n:,}: {t:.1f} s" if t is not None else f"{n:,}: over {imp.budget:g} s"
                       for n, t in imp.probes)
    print(f"  hostile loads {imp.prefix:,} entries, the most within {imp.budget:g} s ({probes})")
    print(f"  {'':44s} {'median':>9s}    {'worst':>9s}")
    for key, label, _, _ in commands:
        median, worst = timed[key]
        print(f"  {label:44s} {median * 1000:9.1f} ms {worst * 1000:9.1f} ms")
    qhosts, hostile = timed["qhosts_import"][0], timed["hostile_load"][0]
    print("  ratios of medians")
    print(f"  {f'hostile load / qhosts import, {imp.prefix:,} entries':44s} "
          f"{hostile / timed['qhosts_prefix'][0]:9.2f}x")
    if imp.prefix < IMPORT_ENTRIES:
        # Each set reads and writes the whole file, one entry longer each
        # time, on top of a fixed cost per set: a*n + b*n^2. Scaling the time
        # at n by the square alone counts the fixed part as growing too, so
        # it is the most that time can come to; a and b, through the medians
        # at n/2 and n, give the estimate, unless load on the machine made
        # those two disagree with such a curve.
        n = imp.prefix // 2
        t1, t2 = timed["hostile_half"][0], hostile
        most = t2 * (IMPORT_ENTRIES / (2 * n)) ** 2
        print(f"  extrapolated, not measured: hostile load of {IMPORT_ENTRIES:,} entries")
        print(f"    at most {most:,.0f} s ({most / 3600:.1f} h): the median at {2 * n:,} "
              f"times ({IMPORT_ENTRIES:,} / {2 * n:,})^2")
        if 2 * t1 < t2 <= 4 * t1:
            b = (t2 - 2 * t1) / (2 * n * n)
            a = (t1 - b * n * n) / n
            estimate = a * IMPORT_ENTRIES + b * IMPORT_ENTRIES ** 2
            print(f"    about {estimate:,.0f} s ({estimate / 3600:.1f} h): a*n + b*n^2 through "
                  f"the medians at {n:,} and {2 * n:,} (a = {a * 1e3:.3f} ms, "
                  f"b = {b * 1e9:.1f} ns)")
            print(f"  {'hostile load (extrapolated) / qhosts import':44s} {estimate / qhosts:9.0f}x")
        else:
            print(f"    no estimate: the medians at {n:,} and {2 * n:,} entries, {t1:.2f} "
                  f"and {t2:.2f} s, do not grow as a*n + b*n^2 can")
    else:
        print(f"  {'hostile load / qhosts import, all entries':44s} {hostile / qhosts:9.2f}x")


def system_hosts_state():
    try:
        st = os.stat(SYSTEM_HOSTS)
    except FileNotFoundError:
        return None
    return (st.st_ino, st.st_size, st.st_mtime_ns)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="folder with qh_runner, qh_record_size and qhosts")
    parser.add_argument("--work", required=True, help="scratch folder holding node_modules/hostile")
    parser.add_argument("--runs", type=int, default=11, help="runs per command, 150,000 records")
    parser.add_argument("--runs-large", type=int, default=5, help="runs per command, 1,000,000 records")
    parser.add_argument("--baseline", help="qh_runner built from an earlier commit")
    parser.add_argument("--baseline-name", default="earlier build", help="how to name it")
    parser.add_argument("--runs-import", type=int, default=5, help="runs per command, import")
    parser.add_argument("--hostile-budget", type=float, default=10.0,
                        help="seconds one hostile load may take; sets how many entries it gets")
    parser.add_argument("--only", choices=["import"], help="time this workload alone")
    args = parser.parse_args()
    args.hostile_runner = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile_runner.js")
    if args.runs < 1 or args.runs_large < 1 or args.runs_import < 1:
        parser.error("runs must be at least 1")
    if args.hostile_budget <= 0:
        parser.error("the hostile budget must be positive")

    before = system_hosts_state()
    node_env = dict(os.environ, NODE_PATH=os.path.join(args.work, "node_modules"))
    version = run_checked(["node", "-p", "require('hostile/package.json').version"],
                          env=node_env).strip()
    qhosts = run_checked([os.path.join(args.bin, "qhosts"), "--version"]).strip()
    node = run_checked(["node", "--version"]).strip()
    print(f"qhosts --version: {qhosts}; hostile {version} on node {node}")

    if args.only is None:
        args.record_bytes = record_bytes(args.bin)
        cases = [(Case(args, SMALL_RECORDS), args.runs), (Case(args, 1000000), args.runs_large)]
        for case, _ in cases:
            run_checked([case.runner, "generate", str(case.records), case.original])
        met = total = 0
        for case, runs in cases:
            counts = case.check_counts()
            commands, timed = measure(case, runs, case.records)
            case_met, case_total = report(case, runs, counts, commands, timed, args.baseline_name)
            met, total = met + case_met, total + case_total
            case.no_copy()
        print(f"\n{met} of {total} targets met")

    imp = Import(args)
    imp.find_prefix()
    imp.check()
    commands, timed = measure(imp, args.runs_import, IMPORT_ENTRIES)
    report_import(imp, args.runs_import, commands, timed)
    imp.no_copy()

    if system_hosts_state() != before:
        sys.exit(f"compare: {SYSTEM_HOSTS} changed during the run")


if __name__ == "__main__":
    main()
