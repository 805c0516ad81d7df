#!/bin/sh
# Sets up and builds, then times the library (qh_runner, qhosts) against the
# physical floor (cat, cp, the cost of the records' memory), against its own
# earlier commit (built once into a side tree) and against the npm package
# hostile on generated 150,000- and 1,000,000-entry files. The timing is
# bench/compare/compare.py; arguments go to it (e.g. --runs 5).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

if command -v node >/dev/null && command -v npm >/dev/null; then
    sh scripts/build-bench.sh
else
    sh scripts/build-bench.sh nodejs npm
fi

work=build-linux/compare
if [ ! -f "$work/node_modules/hostile/package.json" ]; then
    # bench/compare/hostile_runner.js is written against this version's interface.
    npm install --prefix "$work" --no-audit --no-fund --silent hostile@1.4.0
fi

# The commit before large tables lived on huge pages, timed in the same run
# so that whatever else loads the machine hits both alike.
baseline=bba4288
side=$work/baseline-$baseline
if [ ! -x "$side/build/bin/qh_runner" ]; then
    if git cat-file -e "$baseline^{commit}" 2>/dev/null; then
        rm -rf "$side"
        mkdir -p "$side/src"
        git archive "$baseline" | tar -x -C "$side/src"
        (cd "$side/src" && sh scripts/build-tree.sh ../build -DQH_BENCH=ON -DQH_TESTS=OFF)
    else
        echo "compare: commit $baseline is not in this clone; its rows are left out" >&2
    fi
fi
if [ -x "$side/build/bin/qh_runner" ]; then
    set -- --baseline "$side/build/bin/qh_runner" --baseline-name "$baseline" "$@"
fi
exec python3 bench/compare/compare.py --bin build-linux/bin --work "$work" "$@"
