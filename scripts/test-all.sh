#!/bin/sh
# Sets up the machine, checks the sources' layout (scripts/check-format.sh),
# builds the library for Linux (plain and under AddressSanitizer +
# UndefinedBehaviorSanitizer) and for 64-bit Windows, and runs every test:
# the Windows programs under wine. A fourth tree, built with clang, runs each
# fuzz target for a short, bounded time. The Linux tree's tests include the
# .NET binding, its NuGet package (which takes build-win's DLL, so every tree
# is built before any tests run) and the PowerShell module. Fails on any
# failure.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

sh scripts/setup-debian.sh

failed=0
echo "== format"
sh scripts/check-format.sh || failed=1

# One wine prefix for the run, made before the tests start so that tests
# running side by side never race to create it.
export WINEPREFIX="${WINEPREFIX:-$top/build-win/wineprefix}"

jobs=$(nproc 2>/dev/null || echo 2)

build() {
    echo "== $1"
    sh scripts/build-tree.sh "$@"
}

build build-linux -DQH_BENCH=ON
build build-asan -DQH_SANITIZE=ON
build build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
build build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQH_FUZZ=ON -DQH_TESTS=OFF

sh cmake/wine-run.sh wineboot </dev/null >/dev/null 2>&1 || true
# The prefix is written out when its server exits.
wineserver -w || true
# One wineserver for the whole run. Left to wine, the server exits with its
# last program, and a program started in that instant loses it ("wine client
# error: recvmsg: Connection reset by peer") before it runs a line: tests side
# by side hit that now and then. The background programs a new server starts
# (winedevice.exe) live as long as it does and keep the output handles of the
# program that started them, so a program whose output goes nowhere starts
# them; started by a test, they would hold its output pipe open and CTest
# would wait for them.
wineserver -p </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
sh cmake/wine-run.sh wineboot </dev/null >/dev/null 2>&1 || true

for dir in build-linux build-asan build-win build-fuzz; do
    echo "== tests: $dir"
    (cd "$dir" && ctest --output-on-failure -j "$jobs") || failed=1
done
exit $failed
