#!/bin/sh
# Sets up the machine, builds the Linux library and qhosts, and walks through
# a session on a copy of samples/hosts.sample: list, add, disable, remove,
# the file as saved, check, the backups, and the original put back. The
# system hosts file is never touched.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

sh scripts/setup-debian.sh linux
cmake -S . -B build-linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-linux --target qhosts >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/hosts.sample "$work/hosts"

step() {
    printf '\n$ qhosts --file hosts'
    for arg in "$@"; do
        case $arg in
        *" "*) printf ' "%s"' "$arg" ;;
        *) printf ' %s' "$arg" ;;
        esac
    done
    printf '\n'
    (cd "$work" && "$top/build-linux/bin/qhosts" --file hosts "$@")
}

echo "$("$top/build-linux/bin/qhosts" --version), working on a copy of samples/hosts.sample"
step list
step add 10.0.0.42 dev.lan --comment "Jo's workstation"
step --backup disable router.lan
step remove 1
step list --json lan
printf '\n$ cat hosts    # the file as saved\n'
cat "$work/hosts"
step check
step backups
step restore --original
printf '\n$ cat hosts    # as it was before the first save\n'
cat "$work/hosts"
