#!/bin/sh
# Sets up the machine and builds build-linux with the benchmark programs, for
# scripts/bench.sh and scripts/compare.sh. Arguments name further Debian
# packages to install when they are missing.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup-debian.sh linux libbenchmark-dev "$@"

sh scripts/build-tree.sh build-linux -DQH_BENCH=ON
