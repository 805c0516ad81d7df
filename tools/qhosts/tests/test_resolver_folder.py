#!/usr/bin/env python3
"""qhosts on Windows warns when the resolver reads its hosts file from
another folder (DataBasePath of the Tcpip service) than the system file it
works on. Run through the emulator (QHOSTS_RUNNER) with a wine prefix of its
own, made in a temporary folder, whose registry the test changes; the
user's prefix is never touched.
"""

import os
import subprocess
import tempfile
import unittest

EXE = os.environ.get("QHOSTS_EXE", "")
RUNNER = [part for part in os.environ.get("QHOSTS_RUNNER", "").split(";") if part]
KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters"
SYSTEM_FILE = r"C:\windows\system32\drivers\etc\hosts"


@unittest.skipUnless(EXE and RUNNER, "needs the Windows qhosts and its emulator")
class ResolverFolderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.env = dict(os.environ, WINEPREFIX=os.path.join(cls.scratch.name, "prefix"),
                       WINEDEBUG="-all")
        cls.other = os.path.join(cls.scratch.name, "hosts")
        with open(cls.other, "wb") as f:
            f.write(b"127.0.0.1 localhost\n")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        cls.scratch.cleanup()

    def run_in_prefix(self, *args):
        # Output to files, not pipes: the wineserver would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run(RUNNER + list(args), stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, env=self.env, timeout=600)
            out.seek(0)
            err.seek(0)
            return proc.returncode, out.read().decode(), err.read().decode()

    def set_database_path(self, value):
        code, _, err = self.run_in_prefix("reg", "add", KEY, "/v", "DataBasePath", "/t",
                                          "REG_EXPAND_SZ", "/d", value, "/f")
        self.assertEqual(code, 0, err)

    def test_warns_when_the_resolver_reads_another_folder(self):
        warning = ("qhosts: warning: the resolver reads its hosts file from "
                   r"C:\windows\qh-elsewhere (DataBasePath), not from the folder of ")
        other = "Z:" + os.path.abspath(self.other).replace("/", "\\")
        cases = [
            # DataBasePath, arguments, exit code, stderr
            (r"%SystemRoot%\qh-elsewhere", ["--file", SYSTEM_FILE, "check"], 1,
             warning + SYSTEM_FILE + "\n"),
            (r"%SystemRoot%\qh-elsewhere", ["--file", SYSTEM_FILE, "list"], 0,
             warning + SYSTEM_FILE + "\n"),
            # -q keeps the warning: it is not a notice but a finding.
            (r"%SystemRoot%\qh-elsewhere",
             ["--file", SYSTEM_FILE, "-q", "--dry-run", "add", "10.1.1.1", "x.lan"], 0,
             warning + SYSTEM_FILE + "\n"),
            (r"%SystemRoot%\qh-elsewhere", ["list"], 0, warning + SYSTEM_FILE + "\n"),
            (r"%SystemRoot%\qh-elsewhere", ["--file", other, "check"], 0, ""),
            (r"%SystemRoot%\System32\drivers\etc", ["--file", SYSTEM_FILE, "check"], 0, ""),
            (r"C:\WINDOWS\system32\DRIVERS\etc" + "\\", ["--file", SYSTEM_FILE, "check"], 0, ""),
        ]
        for value, args, code, err in cases:
            with self.subTest(value=value, args=args):
                self.set_database_path(value)
                got_code, _, got_err = self.run_in_prefix(EXE, *args)
                self.assertEqual((got_code, got_err), (code, err))


if __name__ == "__main__":
    unittest.main()
