#!/bin/sh
# Installs the Debian packages that the builds and tests need, and only those
# that are missing, so a second run costs nothing. Needs root (or sudo).
set -eu

# Usage: setup-debian.sh [linux] [PACKAGE...]
#   "linux": only what the Linux build needs, not the Windows cross build,
#   wine, the fuzzing compiler, the benchmark library or the .NET SDK check;
#   further arguments name more packages to install when missing.
packages="cmake ninja-build g++ make pkg-config python3 python3-setuptools python3-wheel python3-venv mypy nlohmann-json3-dev googletest libgtest-dev ansible-core man-db groff-base zsh"
full=yes
if [ "${1:-}" = linux ]; then
    full=no
    shift
else
    packages="$packages g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
binutils-mingw-w64-x86-64 wine wine64 clang libclang-rt-dev libbenchmark-dev clang-format-14 git"
fi
packages="$packages $*"

# The .NET binding's tests need the .NET SDK 10 or later, which comes with the
# machine, not from Debian: it is checked, never installed, here.
if [ "$full" = yes ]; then
    sdk=$(dotnet --list-sdks 2>/dev/null | awk -F. '$1 >= 10 {print $0; exit}' || true)
    if [ -z "$sdk" ]; then
        echo "missing: the .NET SDK 10 or later ('dotnet' on PATH, 'dotnet --list-sdks' showing 10.x);" >&2
        echo "the .NET binding, NuGet package and PowerShell tests need it, and this script does not install it" >&2
        exit 1
    fi
fi

missing=
for package in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case $status in
    *" installed") ;;
    *) missing="$missing $package" ;;
    esac
done

if [ -z "$missing" ]; then
    exit 0
fi

sudo=
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
fi
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086 # the list is meant to split into words
$sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
