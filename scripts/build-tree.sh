#!/bin/sh
# Configures and builds one build tree the way every script here does:
# Ninja, RelWithDebInfo, warnings as errors.
# Usage (from the top folder): build-tree.sh DIR [CMAKE OPTION...]
set -eu
dir=$1
shift
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQH_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)"
