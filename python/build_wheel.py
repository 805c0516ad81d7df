#!/usr/bin/env python3
"""Builds the quendral-hosts wheel with the native library inside.

usage: build_wheel.py LIBRARY OUT_DIR

LIBRARY is the built libquendral-hosts.so (Linux) or quendral-hosts.dll
(Windows); its kind decides the wheel's platform tag. A Linux library whose
imports need nothing newer than glibc 2.17 and no C++ runtime is tagged
manylinux2014_x86_64 (the build links it that way), any other linux_x86_64
(for the machine's architecture).
The package is staged in a scratch folder that is removed whatever happens,
so the source tree and OUT_DIR hold nothing but the finished wheel, and built
by setuptools' own PEP 517 backend with any Python 3.8 or later that has
setuptools: nothing is downloaded. Prints the wheel's path.
"""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)


def fail(message):
    sys.exit(f"build_wheel.py: {message}")


def python_section(readme):
    """The README's "## Python" section, as the package's long description."""
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    match = re.search(r"^## Python\n(.*?)(?=^## )", text, re.S | re.M)
    body = match.group(1).strip() if match else ""
    return ("# quendral-hosts\n\nRead, edit and safely rewrite the machine's hosts file: "
            "a ctypes binding with the native library inside.\n\n" + body + "\n")


def linux_tag(library):
    """manylinux2014_ARCH when the library's imports prove it, else linux_ARCH."""
    plain = sysconfig.get_platform().replace("-", "_").replace(".", "_")  # linux_x86_64
    objdump = shutil.which("objdump")
    if not objdump:
        return plain
    dump = subprocess.run([objdump, "-p", library], stdout=subprocess.PIPE,
                          universal_newlines=True).stdout
    needed = re.findall(r"^\s*NEEDED\s+(\S+)", dump, re.M)
    versions = [tuple(int(part) for part in v.split(".")) for v in re.findall(r"GLIBC_(\d+\.\d+)", dump)]
    if any("stdc++" in name for name in needed) or not versions or max(versions) > (2, 17):
        return plain
    return plain.replace("linux_", "manylinux2014_", 1)


def main(library, out_dir):
    if library.endswith(".dll"):
        bundled, tag = "quendral-hosts.dll", "win_amd64"
    elif ".so" in os.path.basename(library):
        bundled, tag = "libquendral-hosts.so", linux_tag(library)
    else:
        fail(f"{library} is neither a .so nor a .dll")
    if not os.path.isfile(library):
        fail(f"no library at {library}")
    try:
        import setuptools.build_meta  # noqa: F401  (checked here, used by the child)
    except ImportError:
        fail(f"{sys.executable} has no setuptools: install it (Debian: python3-setuptools) "
             "or run this with a Python that has it")
    out_dir = os.path.abspath(out_dir)
    os.makedirs(out_dir, exist_ok=True)
    stage = tempfile.mkdtemp(prefix="qh-wheel-")
    try:
        os.makedirs(os.path.join(stage, "quendral_hosts"))
        for name in ("pyproject.toml", "setup.py", os.path.join("quendral_hosts", "__init__.py"),
                     os.path.join("quendral_hosts", "py.typed")):
            shutil.copyfile(os.path.join(HERE, name), os.path.join(stage, name))
        shutil.copyfile(os.path.join(TOP, "LICENSE"), os.path.join(stage, "LICENSE"))
        with open(os.path.join(stage, "README.md"), "w", encoding="utf-8") as f:
            f.write(python_section(os.path.join(TOP, "README.md")))
        # The real file, not a symlink chain: the wheel holds one library file.
        shutil.copyfile(os.path.realpath(library), os.path.join(stage, "quendral_hosts", bundled))
        build = (
            "import sys, setuptools.build_meta as backend; "
            "print(backend.build_wheel(sys.argv[1]))"
        )
        result = subprocess.run(
            [sys.executable, "-c", build, os.path.join(stage, "dist")],
            cwd=stage, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            universal_newlines=True, env=dict(os.environ, QH_WHEEL_PLATFORM=tag),
        )
        if result.returncode != 0:
            lines = result.stdout.strip().splitlines()
            reason = lines[-1] if lines else f"exit status {result.returncode}"
            fail(f"setuptools could not build the wheel: {reason}")
        name = result.stdout.strip().splitlines()[-1]
        shutil.move(os.path.join(stage, "dist", name), os.path.join(out_dir, name))
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    print(os.path.join(out_dir, name))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    main(sys.argv[1], sys.argv[2])
