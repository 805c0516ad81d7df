#!/bin/sh
# Sets up the machine and builds build-linux with the benchmark programs, for
# scripts/bench.sh and scripts/compare.sh. Arguments name further Debian
# packages to install when they are missing.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup-debian.sh linux libbenchmark-dev "$@"

cmake -S . -B build-linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQH_WERROR=ON -DQH_BENCH=ON >/dev/null
cmake --build build-linux -j "$(nproc 2>/dev/null || echo 2)"
