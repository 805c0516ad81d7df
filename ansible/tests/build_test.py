"""Builds the collection with ansible-galaxy and checks the tarball's files.

Usage: build_test.py COLLECTION_DIR WORK_DIR
"""

import os
import shutil
import subprocess
import sys
import tarfile

EXPECTED = {
    "MANIFEST.json",
    "FILES.json",
    "README.md",
    "meta/runtime.yml",
    "plugins/modules/hosts_entry.py",
    "plugins/modules/hosts_info.py",
}


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    collection, work = (os.path.abspath(arg) for arg in sys.argv[1:])
    galaxy = shutil.which("ansible-galaxy")
    if galaxy is None:
        sys.exit("ansible-galaxy not found: install Debian's ansible-core (scripts/setup-debian.sh)")
    output = os.path.join(work, "dist")
    home = os.path.join(work, "home")
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, HOME=home, ANSIBLE_LOCAL_TEMP=os.path.join(work, "tmp"),
               ANSIBLE_NOCOLOR="1")
    subprocess.run([galaxy, "collection", "build", collection, "--output-path", output],
                   env=env, check=True, cwd=work)
    tarballs = os.listdir(output)
    if tarballs != ["quendral-hosts-1.0.0.tar.gz"]:
        sys.exit("expected quendral-hosts-1.0.0.tar.gz, found %s" % tarballs)
    with tarfile.open(os.path.join(output, tarballs[0])) as tarball:
        files = sorted(member.name for member in tarball.getmembers() if member.isfile())
    print("\n".join(files))
    missing = EXPECTED - set(files)
    stray = [name for name in files if "__pycache__" in name or name.endswith((".pyc", ".tar.gz"))]
    if missing or stray:
        sys.exit("missing from the tarball: %s; not meant to be there: %s" % (sorted(missing), stray))


if __name__ == "__main__":
    main()
