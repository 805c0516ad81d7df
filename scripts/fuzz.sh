#!/bin/sh
# Builds the libFuzzer targets (tree build-fuzz, as scripts/test-all.sh does)
# and runs each one in turn for longer than the tests do.
#
# Usage: fuzz.sh [seconds per target, default 600] [parallel jobs, default 1]
#
# New inputs are kept in build-fuzz/fuzz/long/TARGET, so that a later run
# goes on from there; the committed seeds in fuzz/corpus are only read.
# Crash inputs land in build-fuzz/fuzz/artifacts/TARGET. Fails when any
# target finds a crash or a broken invariant.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

seconds=${1:-600}
jobs=${2:-1}

sh scripts/setup-debian.sh linux clang libclang-rt-dev
sh scripts/build-tree.sh build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQH_FUZZ=ON -DQH_TESTS=OFF

# Every save flushes its file and folder to disk; in memory that costs
# nothing, and the targets run about twenty times as many inputs.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi

failed=0
for name in load_save edit lines; do
    corpus=build-fuzz/fuzz/long/$name
    artifacts=build-fuzz/fuzz/artifacts/$name
    mkdir -p "$corpus" "$artifacts"
    set -- -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/"
    if [ -f "fuzz/$name.dict" ]; then
        set -- "$@" -dict="fuzz/$name.dict"
    fi
    if [ "$jobs" -gt 1 ]; then
        set -- "$@" -fork="$jobs"
    fi
    echo "== $name: $seconds s, $jobs job(s)"
    "build-fuzz/bin/${name}_fuzzer" "$@" "$corpus" "fuzz/corpus/$name" || failed=1
done
if [ "$failed" -ne 0 ]; then
    echo "a fuzz target failed: see the crash inputs under build-fuzz/fuzz/artifacts" >&2
fi
exit $failed
