"""Tests for the ctypes binding, run against the library named by the
QUENDRAL_HOSTS_LIBRARY environment variable. Every test works on a hosts
file in its own temporary folder."""

import os
import re
import tempfile
import unittest

from quendral_hosts import HostsError, HostsFile, Record, version

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

    def test_version(self):
        self.assertRegex(version(), re.compile(r"\A\d+\.\d+\.\d+\Z"))


if __name__ == "__main__":
    unittest.main()
