#!/bin/sh
# Sets up, builds build-linux with the benchmark and runs it: load, list,
# edit and save on generated 150,000- and 1,000,000-entry hosts files in a
# temporary folder. Arguments go to the benchmark (e.g. --benchmark_filter=load).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
sh "$top/scripts/build-bench.sh"
exec "$top/build-linux/bin/qh_bench" "$@"
