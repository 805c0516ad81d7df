"""Tests for the ctypes binding, run against the library the package finds:
the one named by QUENDRAL_HOSTS_LIBRARY, or the one an installed wheel
carries. Every test works on a hosts file in its own temporary folder."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

import quendral_hosts
from quendral_hosts import (HostsChangedError, HostsError, HostsFile, HostsPermissionError, Record,
                            flush_dns, version)

# The editing model's table of cases, beside this file when the tests run
# from an installed wheel, else in the source tree.
CASES_FILE = next(
    path for path in (
        os.environ.get("QH_EDITING_CASES", ""),
        os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases.json"),
        os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                     "editing_cases", "cases.json"),
    ) if path and os.path.exists(path)
)

SAMPLE = (
    "# lab machines\n"
    "127.0.0.1 localhost\n"
    "10.0.0.5 build.lan ci.lan # office\n"
    "# 10.0.0.9 old.lan # retired\n"
)
SAMPLE_RECORDS = [
    Record("127.0.0.1", "localhost", True, ""),
    Record("10.0.0.5", "build.lan", True, "office"),
    Record("10.0.0.5", "ci.lan", True, "office"),
    Record("10.0.0.9", "old.lan", False, "retired"),
]


class BindingTest(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        self.path = os.path.join(self.dir, "hosts")
        with open(self.path, "w") as f:
            f.write(SAMPLE)

    def read(self):
        with open(self.path, "rb") as f:
            return f.read()

    def loaded(self, path=None):
        hosts = HostsFile(path or self.path)
        hosts.load()
        return hosts

    def test_load_reads_records(self):
        hosts = self.loaded()
        self.assertEqual(hosts.count(), len(SAMPLE_RECORDS))
        self.assertEqual(hosts.records(), SAMPLE_RECORDS)

    def test_edits_round_trip_through_save(self):
        hosts = self.loaded()
        self.assertEqual(hosts.add("fd00::7", "v6.lan", 'lab "b" box'), 4)
        self.assertEqual(hosts.add("10.0.0.7", "plain.lan"), 5)
        hosts.disable(0)
        hosts.enable(3)
        hosts.remove(1)
        hosts.save()
        self.assertEqual(
            self.read(),
            b"# 127.0.0.1 localhost\n"
            b"10.0.0.5 ci.lan # office\n"
            b"10.0.0.9 old.lan # retired\n"
            b'fd00::7 v6.lan # lab "b" box\n'
            b"10.0.0.7 plain.lan\n"
            b"# lab machines\n",
        )
        self.assertEqual(
            self.loaded().records(),
            [
                Record("127.0.0.1", "localhost", False, ""),
                Record("10.0.0.5", "ci.lan", True, "office"),
                Record("10.0.0.9", "old.lan", True, "retired"),
                Record("fd00::7", "v6.lan", True, 'lab "b" box'),
                Record("10.0.0.7", "plain.lan", True, ""),
            ],
        )

    def test_bytes_that_are_not_utf8_survive(self):
        with open(self.path, "wb") as f:
            f.write(b"10.0.0.1 a.lan # caf\xe9 \x01\n")
        hosts = self.loaded()
        (record,) = hosts.records()
        self.assertEqual(record.comment, "caf\udce9 \x01")
        hosts.remove(0)
        hosts.add(record.ip, record.name, "caf\udce9")
        hosts.save()
        self.assertEqual(self.read(), b"10.0.0.1 a.lan # caf\xe9\n")

    def test_failures_raise_with_library_text(self):
        hosts = self.loaded()
        cases = [
            (lambda: hosts.add("999.1.1.1", "x.lan"), "invalid ip: '999.1.1.1'"),
            (lambda: hosts.remove(9), "index 9 out of range (count 4)"),
            (lambda: hosts.enable(-1), "index -1 out of range (count 4)"),
        ]
        for call, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(HostsError) as caught:
                    call()
                self.assertEqual(caught.exception.message, message)
                self.assertEqual(str(caught.exception), message)
        self.assertEqual(hosts.records(), SAMPLE_RECORDS)

    def test_failed_save_leaves_no_file(self):
        missing = os.path.join(self.dir, "missing", "hosts")
        hosts = self.loaded(missing)
        self.assertEqual(hosts.count(), 0)
        hosts.add("10.0.0.1", "a.lan")
        with self.assertRaises(HostsError) as caught:
            hosts.save()
        self.assertTrue(caught.exception.message)
        self.assertFalse(os.path.exists(missing))

    @unittest.skipIf(sys.platform == "win32", "the access test uses Linux users")
    def test_save_refused_for_access_says_to_run_as_root(self):
        # A folder this user may read but not write: as root, the save runs in
        # a child as the unprivileged user nobody, for whom the root-owned
        # folder is read-only; as another user, the folder loses its write bit.
        os.chmod(self.dir, 0o755)
        os.chmod(self.path, 0o644)
        prefix = []
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if not setpriv:
                self.skipTest("running as root without setpriv to drop to an unprivileged user")
            prefix = [setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
        else:
            os.chmod(self.dir, 0o555)
            self.addCleanup(os.chmod, self.dir, 0o755)
        script = (
            "import json, sys, quendral_hosts as q\n"
            "h = q.HostsFile(sys.argv[1]); h.load(); h.add('10.0.0.1', 'a.lan')\n"
            "try:\n"
            "    h.save()\n"
            "except q.HostsError as e:\n"
            "    print(json.dumps([type(e).__name__, isinstance(e, PermissionError), e.message]))\n"
        )
        package = os.path.dirname(os.path.dirname(os.path.abspath(quendral_hosts.__file__)))
        env = dict(os.environ, PYTHONPATH=package)
        proc = subprocess.run(prefix + [sys.executable, "-c", script, self.path], env=env,
                              capture_output=True, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode())
        kind, is_permission_error, message = json.loads(proc.stdout)
        self.assertEqual((kind, is_permission_error), ("HostsPermissionError", True))
        self.assertRegex(message, r"\Acannot open " + re.escape(self.path) + r"\.tmp for writing: "
                         + re.escape(os.strerror(13)) + "; the system refused access: run the "
                         r"program as root \(for example with sudo\)\Z")
        self.assertEqual(self.read(), SAMPLE.encode())
        self.assertTrue(issubclass(HostsPermissionError, HostsError))

    def test_only_the_last_loaded_file_can_be_edited(self):
        first = self.loaded()
        other_path = os.path.join(self.dir, "other")
        second = self.loaded(other_path)
        with self.assertRaises(HostsError):
            first.add("10.0.0.1", "a.lan")
        second.add("10.0.0.2", "b.lan")
        second.save()
        self.assertEqual(self.read(), SAMPLE.encode())
        with open(other_path, "rb") as f:
            self.assertEqual(f.read(), b"10.0.0.2 b.lan\n")

    def test_indexes_outside_c_int_raise_index_error(self):
        hosts = self.loaded()
        calls = [hosts.remove, hosts.enable, hosts.disable]
        for index in [2**31, 2**32, 2**32 + 1, -(2**31) - 1, -(2**63)]:
            for call in calls:
                with self.subTest(call=call.__name__, index=index):
                    with self.assertRaises(IndexError):
                        call(index)
        self.assertEqual(hosts.records(), SAMPLE_RECORDS)
        with self.assertRaises(HostsError) as caught:
            hosts.remove(2**31 - 1)
        self.assertEqual(caught.exception.message, "index 2147483647 out of range (count 4)")

    def test_nul_characters_raise_value_error(self):
        hosts = self.loaded()
        cases = [
            lambda: hosts.add("10.0.0.1", "good\x00 evil"),
            lambda: hosts.add("10.0.0.1\x00", "a.lan"),
            lambda: hosts.add("10.0.0.1", "a.lan", "note\x00hidden"),
            lambda: HostsFile(self.path + "\x00junk"),
            lambda: HostsFile(os.fsencode(self.path) + b"\x00junk"),
        ]
        for number, call in enumerate(cases):
            with self.subTest(case=number):
                with self.assertRaisesRegex(ValueError, "NUL"):
                    call()
        self.assertEqual(hosts.records(), SAMPLE_RECORDS)

    def test_wrong_types_raise_type_error(self):
        hosts = self.loaded()
        cases = [
            lambda: hosts.add(10, "a.lan"),
            lambda: hosts.add("10.0.0.1", b"a.lan"),
            lambda: hosts.add("10.0.0.1", "a.lan", 7),
            lambda: hosts.remove("1"),
            lambda: hosts.enable(1.0),
            lambda: hosts.disable(None),
            lambda: HostsFile(3.5),
        ]
        for number, call in enumerate(cases):
            with self.subTest(case=number):
                with self.assertRaises(TypeError):
                    call()
        self.assertEqual(hosts.records(), SAMPLE_RECORDS)

    def test_paths_may_be_path_objects_and_bytes(self):
        import pathlib

        self.assertEqual(self.loaded(pathlib.Path(self.path)).records(), SAMPLE_RECORDS)
        self.assertEqual(self.loaded(os.fsencode(self.path)).records(), SAMPLE_RECORDS)

    def test_windows_takes_the_ansi_code_page_strictly(self):
        self.assertEqual(
            quendral_hosts._text_codec("win32"), ("mbcs", "strict", "surrogateescape")
        )
        self.assertEqual(
            quendral_hosts._text_codec("linux"), ("utf-8", "surrogateescape", "surrogateescape")
        )
        # A code page of the same kind, available everywhere, stands in for
        # 'mbcs': what it can represent is encoded, the rest is refused.
        self.assertEqual(
            quendral_hosts._to_bytes("utf8-h\u00f6sts", "path", "cp1252", "strict"),
            b"utf8-h\xf6sts",
        )
        with self.assertRaisesRegex(ValueError, "path 'h\u0153\u4e2dsts' cannot be written"):
            quendral_hosts._to_bytes("h\u0153\u4e2dsts", "path", "cp1252", "strict")

    def test_library_errors_pass_through_as_hosts_error(self):
        # The save's refusals, given by a stand-in library, reach the caller
        # whole, as HostsError.
        texts = [
            "/etc/hosts changed since it was loaded",
            "not replacing /etc/hosts: its last load failed",
            "cannot open /etc/hosts.tmp for writing: another save of /etc/hosts is in progress",
        ]
        for text in texts:
            with self.subTest(text=text):
                fake = mock.Mock()
                fake.hosts_set_path.return_value = 1
                fake.hosts_load.return_value = 1
                fake.hosts_save.return_value = -1
                fake.hosts_last_error.return_value = text.encode()
                with mock.patch.object(quendral_hosts, "_lib", fake):
                    hosts = self.loaded()
                    with self.assertRaises(HostsError) as caught:
                        hosts.save()
                self.assertEqual(caught.exception.message, text)

    def test_version(self):
        self.assertRegex(version(), re.compile(r"\A\d+\.\d+\.\d+\Z"))
        self.assertEqual(quendral_hosts.__version__, version())

    def test_shared_editing_cases(self):
        with open(CASES_FILE, encoding="utf-8") as f:
            table = json.load(f)
        errors = {"invalid": ValueError, "not_found": None, "out_of_range": IndexError}
        for case in table["cases"]:
            with self.subTest(case=case["name"]):
                start = table["files"][case["file"]].encode()
                with open(self.path, "wb") as f:
                    f.write(start)
                hosts = self.loaded()
                before = hosts.records()
                op, expect = case["op"], case["expect"]
                target = case.get("target", {})
                by = {key: target[key] for key in ("name", "address") if key in target}

                def call():
                    if op in ("add", "set"):
                        return getattr(hosts, op)(case["address"], case["hostname"],
                                                  case.get("comment"))
                    if op == "find":
                        found = hosts.find(**by)
                        self.assertEqual(hosts.exists(**by), bool(found))
                        return [record.index for record in found]
                    return getattr(hosts, op)(target.get("index"), **by)

                kind = expect.get("error")
                if kind == "not_found":
                    self.assertEqual(call(), 0)
                elif kind:
                    with self.assertRaises(errors[kind]) as caught:
                        call()
                    self.assertIsInstance(caught.exception, HostsError)
                else:
                    result = call()
                    if expect["result"] is not None:
                        self.assertEqual(result, expect["result"])
                if kind or expect["file"] is None:
                    self.assertFalse(hosts.modified)
                    self.assertEqual(hosts.records(), before)
                    self.assertEqual(self.read(), start)
                    continue
                self.assertTrue(hosts.modified)
                hosts.save()
                self.assertEqual(self.read(), expect["file"].encode())

    def test_errors_are_built_in_exception_types(self):
        hosts = self.loaded()
        self.assertRaises(ValueError, hosts.add, "999.1.1.1", "x.lan")
        self.assertRaises(ValueError, hosts.set, "10.0.0.1", "bad name!")
        self.assertRaises(ValueError, hosts.add, "10.0.0.1", "a.lan", "one\ntwo")
        self.assertRaises(IndexError, hosts.remove, 9999)
        self.assertRaises(IndexError, hosts.disable, -1)
        self.assertRaises(IndexError, hosts.__getitem__, 4)
        self.assertRaises(ValueError, hosts.find, name="")
        self.assertRaises(TypeError, hosts.find)
        self.assertEqual(hosts.records(), SAMPLE_RECORDS)
        # The library's words decide the kind; every kind is a HostsError.
        cases = [
            ("/x/hosts changed since it was loaded", HostsChangedError),
            ("cannot open /x/hosts.tmp for writing: Permission denied", PermissionError),
            ("rename /x/hosts.tmp -> /x/hosts failed: Operation not permitted", PermissionError),
            ("cannot open /x/hosts.tmp for writing: No space left on device", type(None)),
        ]
        for text, kind in cases:
            with self.subTest(text=text):
                error = quendral_hosts._error(text)
                self.assertIsInstance(error, HostsError)
                # Refused access adds the hint to run elevated (as root elsewhere).
                hint = "; " + quendral_hosts._elevation_hint(sys.platform) if kind is PermissionError else ""
                self.assertEqual(str(error), text + hint)
                if kind is type(None):
                    self.assertNotIsInstance(error, (OSError, ValueError, IndexError, HostsChangedError))
                else:
                    self.assertIsInstance(error, kind)
        self.assertTrue(issubclass(HostsPermissionError, PermissionError))

    @unittest.skipIf(os.name != "posix", "the access test uses Linux users")
    def test_refused_save_is_permission_error(self):
        # A folder this user may read but not write: as root, the save runs
        # in a child process as the unprivileged user nobody, for whom the
        # root-owned folder is read-only; as another user, the folder loses
        # its write bit.
        program = (
            "import sys, quendral_hosts as q\n"
            "hosts = q.HostsFile(sys.argv[1])\n"
            "hosts.load()\n"
            "hosts.disable(0)\n"
            "try:\n"
            "    hosts.save()\n"
            "except PermissionError as error:\n"
            "    print(type(error).__name__, isinstance(error, q.HostsError), error)\n"
        )
        os.chmod(self.dir, 0o755)
        os.chmod(self.path, 0o644)
        prefix = []
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if not setpriv:
                self.skipTest("running as root without setpriv to drop to an unprivileged user")
            prefix = [setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
        else:
            os.chmod(self.dir, 0o555)
            self.addCleanup(os.chmod, self.dir, 0o755)
        package_root = os.path.dirname(os.path.dirname(os.path.abspath(quendral_hosts.__file__)))
        env = dict(os.environ, PYTHONPATH=package_root)
        result = subprocess.run(prefix + [sys.executable, "-c", program, self.path],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                universal_newlines=True, env=env, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertRegex(result.stdout, r"\AHostsPermissionError True [^\n]*Permission denied; the system refused access: "
                         r"run the program as root \(for example with sudo\)\n\Z")
        self.assertEqual(self.read(), SAMPLE.encode())

    def test_file_changed_since_the_load_is_hosts_changed_error(self):
        hosts = self.loaded()
        hosts.disable(0)
        with open(self.path, "a") as f:
            f.write("10.0.0.77 late.lan\n")
        with self.assertRaises(HostsChangedError):
            hosts.save()
        hosts.load()
        hosts.disable(0)
        hosts.save()
        self.assertIn(b"10.0.0.77 late.lan\n", self.read())

    def test_an_empty_path_is_refused(self):
        for path in ["", b""]:
            with self.subTest(path=path):
                with self.assertRaises(ValueError) as caught:
                    HostsFile(path)
                self.assertEqual(str(caught.exception), "--file needs a non-empty path")

    def test_records_carry_their_index_and_the_file_is_a_sequence(self):
        hosts = self.loaded()
        self.assertEqual(len(hosts), 4)
        self.assertEqual([r.index for r in hosts], [0, 1, 2, 3])
        self.assertEqual(list(hosts), SAMPLE_RECORDS)
        self.assertEqual(hosts[-1], SAMPLE_RECORDS[3])
        self.assertEqual(hosts[-1].index, 3)

    def test_find_takes_name_and_address_together(self):
        hosts = self.loaded()
        self.assertEqual([r.index for r in hosts.find(address="10.0.0.005")], [1, 2])
        self.assertEqual([r.index for r in hosts.find(name="CI.lan", address="10.0.0.5")], [2])
        self.assertEqual(hosts.find(name="ci.lan", address="10.0.0.9"), [])
        self.assertTrue(hosts.exists(name="OLD.LAN"))
        self.assertFalse(hosts.exists(address="10.0.0.6"))

    def test_a_stale_record_is_refused(self):
        hosts = self.loaded()
        first, second = hosts[0], hosts[1]
        self.assertEqual(hosts.disable(second), 1)
        hosts.remove(first)
        with self.assertRaisesRegex(HostsError, "record 1 is no longer 10.0.0.5 build.lan"):
            hosts.enable(second)
        self.assertEqual(hosts.records(), [Record("10.0.0.5", "build.lan", False, "office"),
                                           *SAMPLE_RECORDS[2:]])

    def test_with_block_saves_on_success_only(self):
        with HostsFile(self.path) as hosts:
            self.assertEqual(hosts.disable(name="localhost"), 1)
        self.assertTrue(self.read().startswith(b"# 127.0.0.1 localhost\n"))
        before = self.read()
        with self.assertRaises(KeyError):
            with HostsFile(self.path) as hosts:
                hosts.remove(0)
                raise KeyError("stop")
        self.assertEqual(self.read(), before)
        os.utime(self.path, (0, 0))
        with HostsFile(self.path) as hosts:
            hosts.add("10.0.0.5", "ci.lan")
        self.assertEqual(os.stat(self.path).st_mtime, 0, "an edit with nothing to change saved")

    def test_flush_dns_returns_text(self):
        try:
            note = flush_dns()
        except HostsError as error:
            self.assertTrue(error.message)
        else:
            self.assertIsInstance(note, str)


if __name__ == "__main__":
    unittest.main()
