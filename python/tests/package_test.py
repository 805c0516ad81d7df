#!/usr/bin/env python3
"""Builds the wheel from a built library and checks it.

usage: package_test.py LIBRARY WORK_DIR TAG [--install]

Checks the wheel's name, platform tag (TAG, such as manylinux2014_x86_64),
metadata and contents (the package and the very library it was built from),
and that a Python without what the build needs gets one line and no files. With --install, as for a native Linux build:
makes a fresh virtual environment, installs the wheel offline (--no-index),
and runs the binding's tests from a folder outside the source tree, with no
QUENDRAL_HOSTS_LIBRARY and no PYTHONPATH, so that they pass only if the
installed package finds the library it carries.
"""

import os
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
LIBRARY = ""
WORK = ""
TAG = ""
INSTALL = False


def bundled_name(library):
    return "quendral-hosts.dll" if library.endswith(".dll") else "libquendral-hosts.so"


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        out = subprocess.run(
            [sys.executable, os.path.join(SOURCE, "build_wheel.py"), LIBRARY,
             os.path.join(WORK, "dist")],
            stdout=subprocess.PIPE, universal_newlines=True, check=True,
        ).stdout
        cls.wheel = out.strip().splitlines()[-1]

    def test_wheel_holds_the_package_and_its_library(self):
        windows = LIBRARY.endswith(".dll")
        platform = TAG
        self.assertEqual(
            os.path.basename(self.wheel), f"quendral_hosts-1.0.0-py3-none-{platform}.whl"
        )
        library_entry = "quendral_hosts/" + bundled_name(LIBRARY)
        with zipfile.ZipFile(self.wheel) as wheel:
            names = set(wheel.namelist())
            info = "quendral_hosts-1.0.0.dist-info/"
            self.assertEqual(
                names,
                {"quendral_hosts/__init__.py", "quendral_hosts/py.typed", library_entry,
                 info + "LICENSE", info + "METADATA",
                 info + "WHEEL", info + "RECORD", info + "top_level.txt"},
            )
            tags = wheel.read(info + "WHEEL").decode().splitlines()
            self.assertIn(f"Tag: py3-none-{platform}", tags)
            self.assertIn("Root-Is-Purelib: false", tags)
            with open(os.path.realpath(LIBRARY), "rb") as f:
                self.assertEqual(wheel.read(library_entry), f.read())
            with open(os.path.join(SOURCE, "quendral_hosts", "__init__.py"), "rb") as f:
                self.assertEqual(wheel.read("quendral_hosts/__init__.py"), f.read())
            metadata = wheel.read(info + "METADATA").decode()
            for line in ["Requires-Python: >=3.8", "License: MIT", "License-File: LICENSE",
                         "Classifier: Typing :: Typed", "Classifier: Operating System :: POSIX :: Linux",
                         "Description-Content-Type: text/markdown"]:
                self.assertIn(line + "\n", metadata)
            # The README's Python section is the long description.
            with open(os.path.join(SOURCE, "..", "README.md"), encoding="utf-8") as f:
                section = re.search(r"^## Python\n(.*?)^## ", f.read(), re.S | re.M).group(1)
            self.assertIn("from quendral_hosts import", section)
            self.assertIn(section.strip(), metadata.split("\n\n", 1)[1])
            with open(os.path.join(SOURCE, "..", "LICENSE"), "rb") as f:
                self.assertEqual(wheel.read(info + "LICENSE"), f.read())
            library = wheel.read(library_entry)
            # A PE image for Windows (x86-64 machine type), an ELF one for Linux.
            if windows:
                pe = int.from_bytes(library[0x3C:0x40], "little")
                self.assertEqual(library[pe:pe + 6], b"PE\0\0\x64\x86")
            else:
                self.assertEqual(library[:4], b"\x7fELF")

    def test_a_build_that_cannot_run_says_why_in_one_line(self):
        # No site packages (no setuptools), then a 'wheel' package that will
        # not import, as with a Python that lacks it and an older setuptools.
        broken = os.path.join(WORK, "broken")
        os.makedirs(os.path.join(broken, "wheel"))
        with open(os.path.join(broken, "wheel", "__init__.py"), "w") as f:
            f.write("raise ImportError('no wheel here')\n")
        cases = [
            ([sys.executable, "-S"], {}, "has no setuptools"),
            ([sys.executable], {"PYTHONPATH": broken}, "'wheel' package"),
        ]
        for python, extra, words in cases:
            with self.subTest(words=words):
                out = os.path.join(WORK, "failed-dist")
                env = dict(os.environ, **extra)
                result = subprocess.run(
                    python + [os.path.join(SOURCE, "build_wheel.py"), LIBRARY, out],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, env=env,
                )
                if words == "'wheel' package" and result.returncode == 0:
                    self.skipTest("this setuptools builds wheels without the wheel package")
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertTrue(result.stderr.startswith("build_wheel.py: "), result.stderr)
                self.assertIn(words, result.stderr)
                self.assertEqual(os.listdir(out) if os.path.exists(out) else [], [])

    def test_installed_wheel_passes_the_binding_tests(self):
        if not INSTALL:
            self.skipTest("this build's library cannot be loaded by the Python here")
        venv = os.path.join(WORK, "venv")
        subprocess.run([sys.executable, "-m", "venv", venv], check=True)
        python = os.path.join(venv, "bin", "python")
        env = {k: v for k, v in os.environ.items()
               if k not in ("QUENDRAL_HOSTS_LIBRARY", "PYTHONPATH", "PYTHONHOME")}
        env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
        subprocess.run(
            [python, "-m", "pip", "install", "--no-index", "--no-cache-dir", self.wheel],
            check=True, env=env, stdout=subprocess.DEVNULL,
        )
        run = os.path.join(WORK, "run")
        os.makedirs(run)
        shutil.copyfile(os.path.join(HERE, "test_binding.py"), os.path.join(run, "test_binding.py"))
        shutil.copyfile(os.path.join(SOURCE, "..", "tests", "editing_cases", "cases.json"),
                        os.path.join(run, "cases.json"))
        where = subprocess.run(
            [python, "-c", "import quendral_hosts as q; print(q.__file__); print(q._library()._name)"],
            cwd=run, env=env, stdout=subprocess.PIPE, universal_newlines=True, check=True,
        ).stdout.splitlines()
        site = os.path.realpath(venv) + os.sep
        for path in where:
            self.assertTrue(os.path.realpath(path).startswith(site), where)
        tests = subprocess.run(
            [python, "-m", "unittest", "discover", "-s", run, "-v"],
            cwd=run, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            universal_newlines=True,
        )
        self.assertEqual(tests.returncode, 0, tests.stdout)
        self.assertRegex(tests.stdout, r"\nOK( \(skipped=\d+\))?\n")
        self.assertIn("test_shared_editing_cases", tests.stdout)

    def test_typed_consumer_checks_strictly_against_the_installed_wheel(self):
        if not INSTALL:
            self.skipTest("this build's library cannot be loaded by the Python here")
        mypy = shutil.which("mypy")
        if not mypy:
            self.skipTest("mypy is not installed (scripts/setup-debian.sh installs it)")
        python = os.path.join(WORK, "venv", "bin", "python")
        if not os.path.exists(python):
            self.skipTest("needs the virtual environment of the install test")
        consumer = os.path.join(WORK, "consumer")
        os.makedirs(consumer, exist_ok=True)
        shutil.copyfile(os.path.join(HERE, "typed_consumer.py"),
                        os.path.join(consumer, "typed_consumer.py"))
        checked = subprocess.run(
            [mypy, "--strict", "--no-incremental", "--python-executable", python,
             "typed_consumer.py"],
            cwd=consumer, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True,
        )
        self.assertEqual(checked.returncode, 0, checked.stdout)
        # A type error is seen, so the check above proves something.
        with open(os.path.join(consumer, "typed_consumer.py"), "a") as f:
            f.write("\nwrong: str = HostsFile('x').add('10.0.0.1', 'a.lan')\n")
        checked = subprocess.run(
            [mypy, "--strict", "--no-incremental", "--python-executable", python,
             "typed_consumer.py"],
            cwd=consumer, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True,
        )
        self.assertEqual(checked.returncode, 1, checked.stdout)
        self.assertIn("Incompatible types in assignment", checked.stdout)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__.strip().splitlines()[2])
    LIBRARY, WORK, TAG = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
    INSTALL = "--install" in sys.argv[4:]
    unittest.main(argv=[sys.argv[0], "-v"])
