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

An edited copy is put back before every timed run, outside the timing, and
the runs of all commands are interleaved, in a new order each round, so that
background load hits them alike. The system hosts file is never named; the
script checks that it is unchanged at the end.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

SYSTEM_HOSTS = "/etc/hosts"
SMALL_RECORDS = 150000
EDIT_IP = "10.11.12.13"
EDIT_NAME = "qh-compare-edit.invalid"


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
        index = run_checked([self.qhosts, "--file", self.edited, "add", EDIT_IP, EDIT_NAME]).strip()
        run_checked([self.qhosts, "--file", self.edited, "remove", index])

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


def measure(case, runs):
    """Per command: (median, worst) over `runs` runs."""
    commands = case.commands()
    times = {key: [] for key, _, _, _ in commands}
    # A new order each round: on a virtual machine that hands freed memory
    # back to its host, a process that follows a big one can find its fresh
    # memory slow to come back, and no command should always be that one.
    order = random.Random(case.records)
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
    args = parser.parse_args()
    args.hostile_runner = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile_runner.js")
    if args.runs < 1 or args.runs_large < 1:
        parser.error("runs must be at least 1")
    args.record_bytes = record_bytes(args.bin)

    before = system_hosts_state()
    cases = [(Case(args, SMALL_RECORDS), args.runs), (Case(args, 1000000), args.runs_large)]
    for case, _ in cases:
        run_checked([case.runner, "generate", str(case.records), case.original])

    version = run_checked(["node", "-p", "require('hostile/package.json').version"],
                          env=cases[0][0].node_env).strip()
    print(f"qh_runner/qhosts: library {run_checked([cases[0][0].qhosts, '--version']).strip()}; "
          f"hostile {version} on node {run_checked(['node', '--version']).strip()}")
    met = total = 0
    for case, runs in cases:
        counts = case.check_counts()
        commands, timed = measure(case, runs)
        case_met, case_total = report(case, runs, counts, commands, timed, args.baseline_name)
        met, total = met + case_met, total + case_total
        case.no_copy()
    print(f"\n{met} of {total} targets met")

    if system_hosts_state() != before:
        sys.exit(f"compare: {SYSTEM_HOSTS} changed during the run")


if __name__ == "__main__":
    main()
