"""Runs the collection's playbook tests with the real ansible-playbook.

Usage: playbook_test.py COLLECTIONS_ROOT WORK_DIR

COLLECTIONS_ROOT holds ansible_collections/quendral/hosts; WORK_DIR (in the
build tree) holds Ansible's home and temporary files. The module runs on
localhost with this Python, which must find the quendral_hosts package
(PYTHONPATH) and the library (QUENDRAL_HOSTS_LIBRARY). Every hosts file is
in a temporary folder; the system hosts file is checked to be untouched.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM_HOSTS = "/etc/hosts"
RECAP = re.compile(r"^localhost\s*:\s*ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+)",
                   re.MULTILINE)

COLLECTIONS_ROOT = ""
WORK_DIR = ""

INITIAL = (b"10.0.0.1 keep.lan\n"
           b"10.0.0.3 dev.lan\n"
           b"10.0.0.4 old.lan\n")


def system_file_state():
    try:
        info = os.stat(SYSTEM_HOSTS)
    except FileNotFoundError:
        return None
    with open(SYSTEM_HOSTS, "rb") as stream:
        return stream.read(), info.st_mtime_ns, info.st_ino


def ansible_environment():
    home = os.path.join(WORK_DIR, "home")
    local_temp = os.path.join(WORK_DIR, "tmp")
    os.makedirs(home, exist_ok=True)
    os.makedirs(local_temp, exist_ok=True)
    # A configuration of the test's own, so that no ansible.cfg around is read.
    config = os.path.join(WORK_DIR, "ansible.cfg")
    with open(config, "w") as stream:
        stream.write("[defaults]\ninterpreter_python = %s\n[connection]\npipelining = True\n" % sys.executable)
    env = dict(os.environ)
    env.update(
        HOME=home,
        ANSIBLE_CONFIG=config,
        ANSIBLE_COLLECTIONS_PATH=COLLECTIONS_ROOT,
        ANSIBLE_LOCAL_TEMP=local_temp,
        ANSIBLE_REMOTE_TEMP=local_temp,
        ANSIBLE_NOCOLOR="1",
        ANSIBLE_RETRY_FILES_ENABLED="0",
        ANSIBLE_LOCALHOST_WARNING="0",
        ANSIBLE_INVENTORY_UNPARSED_WARNING="0",
    )
    return env


def package_importable_without_pythonpath():
    env = dict(os.environ, PYTHONPATH="/nonexistent")
    return subprocess.run([sys.executable, "-c", "import quendral_hosts"], env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


class PlaybookTest(unittest.TestCase):
    def setUp(self):
        self.playbook = shutil.which("ansible-playbook")
        if self.playbook is None:
            self.fail("ansible-playbook not found: install Debian's ansible-core "
                      "(scripts/setup-debian.sh)")
        self.folder = tempfile.mkdtemp(prefix="qh-ansible.")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.system_before = system_file_state()

    def tearDown(self):
        self.assertEqual(system_file_state(), self.system_before,
                         "the system hosts file changed")

    def run_playbook(self, name, hosts_file, *extra):
        command = [self.playbook, "-i", "localhost,", os.path.join(HERE, name),
                   "-e", "hosts_file=" + hosts_file, *extra]
        done = subprocess.run(command, env=ansible_environment(), cwd=WORK_DIR,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              universal_newlines=True, timeout=120)
        print(done.stdout)
        recap = RECAP.findall(done.stdout)
        self.assertEqual(len(recap), 1, done.stdout)
        self.assertEqual(done.returncode, 0, done.stdout)
        ok, changed, unreachable, failed = (int(n) for n in recap[0])
        return ok, changed, unreachable + failed

    def test_converge_twice(self):
        hosts_file = os.path.join(self.folder, "hosts")
        with open(hosts_file, "wb") as stream:
            stream.write(INITIAL)

        self.assertEqual(self.run_playbook("converge.yml", hosts_file), (4, 4, 0))
        with open(hosts_file, "rb") as stream:
            first = stream.read()
        self.assertEqual(first, b"10.0.0.1 keep.lan\n"
                                b"# 10.0.0.3 dev.lan\n"
                                b"10.0.0.7 web.lan # front\n"
                                b"10.0.0.7 API.lan # front\n"
                                b"10.0.0.42 dev.lan\n"
                                b"# 10.0.0.9 test.lan\n")
        backups = [entry for entry in os.listdir(self.folder) if entry != "hosts"]
        self.assertEqual(len(backups), 1, backups)
        self.assertRegex(backups[0], r"\Ahosts\.bak\.\d{8}-\d{6}\Z")
        with open(os.path.join(self.folder, backups[0]), "rb") as stream:
            self.assertEqual(stream.read(), INITIAL)

        info = os.stat(hosts_file)
        self.assertEqual(self.run_playbook("converge.yml", hosts_file), (4, 0, 0))
        with open(hosts_file, "rb") as stream:
            self.assertEqual(stream.read(), first)
        again = os.stat(hosts_file)
        self.assertEqual((again.st_ino, again.st_mtime_ns), (info.st_ino, info.st_mtime_ns),
                         "a run with nothing to change wrote the file")
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(["hosts"] + backups))

    def test_probes(self):
        hosts_file = os.path.join(self.folder, "hosts")
        with open(hosts_file, "wb") as stream:
            stream.write(b"10.0.0.1 keep.lan\n")
        probe_missing = "false" if package_importable_without_pythonpath() else "true"
        ok, changed, failed = self.run_playbook("probes.yml", hosts_file,
                                                "-e", "probe_missing=" + probe_missing)
        self.assertEqual((changed, failed), (2, 0))
        with open(hosts_file, "rb") as stream:
            self.assertEqual(stream.read(), b"10.0.0.1 keep.lan\n10.0.0.6 diff.lan\n")


def main():
    global COLLECTIONS_ROOT, WORK_DIR
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    COLLECTIONS_ROOT = os.path.abspath(sys.argv[1])
    WORK_DIR = os.path.abspath(sys.argv[2])
    os.makedirs(WORK_DIR, exist_ok=True)
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])


if __name__ == "__main__":
    main()
