#!/usr/bin/env python3
"""Builds the quendral-hosts wheel with the native library inside.

usage: build_wheel.py LIBRARY OUT_DIR

LIBRARY is the built libquendral-hosts.so (Linux) or quendral-hosts.dll
(Windows); its kind decides the wheel's platform tag. The package is staged
in a scratch folder under OUT_DIR, so the source tree stays untouched, and
built by setuptools' own PEP 517 backend: Debian's python3-setuptools and
python3-wheel are all it takes, nothing is downloaded. Prints the wheel's path.
"""

import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def main(library, out_dir):
    if library.endswith(".dll"):
        bundled = "quendral-hosts.dll"
    elif ".so" in os.path.basename(library):
        bundled = "libquendral-hosts.so"
    else:
        sys.exit(f"build_wheel.py: {library} is neither a .so nor a .dll")
    out_dir = os.path.abspath(out_dir)
    stage = os.path.join(out_dir, "stage")
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(os.path.join(stage, "quendral_hosts"))
    for name in ("pyproject.toml", "setup.py", os.path.join("quendral_hosts", "__init__.py")):
        shutil.copyfile(os.path.join(HERE, name), os.path.join(stage, name))
    # The real file, not a symlink chain: the wheel holds one library file.
    shutil.copyfile(os.path.realpath(library), os.path.join(stage, "quendral_hosts", bundled))
    build = (
        "import sys, setuptools.build_meta as backend; "
        "print(backend.build_wheel(sys.argv[1]))"
    )
    result = subprocess.run(
        [sys.executable, "-c", build, out_dir],
        cwd=stage,
        stdout=subprocess.PIPE,
        universal_newlines=True,
        check=True,
    )
    shutil.rmtree(stage)
    print(os.path.join(out_dir, result.stdout.strip().splitlines()[-1]))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    main(sys.argv[1], sys.argv[2])
