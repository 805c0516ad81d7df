"""hosts_entry run in this process, where another writer can be slipped in
between its load and its save: the save finds the file changed since it was
loaded, and the module must load again and repeat the edit.

Needs a Python that imports ansible (Debian's python3 with ansible-core),
the quendral_hosts package (PYTHONPATH) and the library
(QUENDRAL_HOSTS_LIBRARY). Every file is in a temporary folder.
"""

import contextlib
import importlib.util
import io
import json
import os
import re
import shutil
import tempfile
import unittest

from ansible.module_utils import basic

import quendral_hosts

MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                      "ansible_collections", "quendral", "hosts", "plugins", "modules",
                      "hosts_entry.py")
SYSTEM_HOSTS = "/etc/hosts"


def load_module():
    source = importlib.util.spec_from_file_location("hosts_entry", MODULE)
    module = importlib.util.module_from_spec(source)
    source.loader.exec_module(module)
    return module


def system_file_state():
    try:
        info = os.stat(SYSTEM_HOSTS)
    except FileNotFoundError:
        return None
    with open(SYSTEM_HOSTS, "rb") as stream:
        return stream.read(), info.st_mtime_ns, info.st_ino


class RetryTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qh-ansible-module.")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.path = os.path.join(self.folder, "hosts")
        with open(self.path, "wb") as stream:
            stream.write(b"10.0.0.1 keep.lan\n")
        self.system_before = system_file_state()
        self.saves = 0
        real_save = quendral_hosts.HostsFile.save
        test = self

        def save(hosts):
            # Another program writes the file after the module loaded it.
            test.saves += 1
            if test.saves <= test.interfere:
                with open(test.path, "ab") as stream:
                    stream.write(b"10.0.1.%d other%d.lan\n" % (test.saves, test.saves))
            return real_save(hosts)

        quendral_hosts.HostsFile.save = save
        self.addCleanup(setattr, quendral_hosts.HostsFile, "save", real_save)

    def tearDown(self):
        self.assertEqual(system_file_state(), self.system_before,
                         "the system hosts file changed")

    def run_module(self, **args):
        basic._ANSIBLE_ARGS = json.dumps({"ANSIBLE_MODULE_ARGS": args}).encode()
        out = io.StringIO()
        with contextlib.redirect_stdout(out), self.assertRaises(SystemExit):
            load_module().main()
        return json.loads(out.getvalue())

    def read(self):
        with open(self.path, "rb") as stream:
            return stream.read()

    def test_a_change_since_the_load_is_retried(self):
        self.interfere = 2
        result = self.run_module(name=["dev.lan"], ip="10.0.0.42", path=self.path, backup=True)
        self.assertTrue(result["changed"], result)
        self.assertNotIn("failed", result)
        self.assertEqual(self.saves, 3)
        self.assertEqual(self.read(), b"10.0.0.1 keep.lan\n10.0.1.1 other1.lan\n"
                                      b"10.0.1.2 other2.lan\n10.0.0.42 dev.lan\n")
        # One backup, of the file the successful save replaced.
        backups = [name for name in os.listdir(self.folder) if name != "hosts"]
        self.assertEqual(backups, [os.path.basename(result["backup_file"])])
        self.assertRegex(backups[0], r"\Ahosts\.bak\.\d{8}-\d{6}\Z")
        with open(result["backup_file"], "rb") as stream:
            self.assertEqual(stream.read(),
                             b"10.0.0.1 keep.lan\n10.0.1.1 other1.lan\n10.0.1.2 other2.lan\n")

    def test_five_attempts_then_the_library_text(self):
        self.interfere = 100
        result = self.run_module(name="dev.lan", ip="10.0.0.42", path=self.path)
        self.assertTrue(result["failed"], result)
        self.assertEqual(self.saves, 5)
        self.assertRegex(result["msg"], r"\A.*hosts changed since it was loaded\Z")
        self.assertNotIn(b"dev.lan", self.read())

    def test_nothing_to_change_loads_once_and_saves_nothing(self):
        self.interfere = 0
        result = self.run_module(name="keep.lan", ip="10.0.0.1", path=self.path)
        self.assertFalse(result["changed"], result)
        self.assertEqual(self.saves, 0)
        self.assertEqual(result["records"], [
            {"index": 0, "ip": "10.0.0.1", "name": "keep.lan", "enabled": True, "comment": ""}])

    def test_present_needs_an_address(self):
        self.interfere = 0
        result = self.run_module(name="keep.lan", path=self.path)
        self.assertTrue(result["failed"], result)
        self.assertEqual(result["msg"], "state=present needs ip")


if __name__ == "__main__":
    unittest.main(verbosity=2)
