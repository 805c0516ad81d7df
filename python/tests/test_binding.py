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
from quendral_hosts import HostsError, HostsFile, HostsPermissionError, Record, version

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


if __name__ == "__main__":
    unittest.main()
