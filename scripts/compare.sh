#!/bin/sh
# Sets up and builds, then times the library (qh_runner, qhosts) against the
# physical floor (cat, cp) and against the npm package hostile on generated
# 150,000- and 1,000,000-entry files. The timing is bench/compare.py;
# arguments go to it (e.g. --runs 5).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

if command -v node >/dev/null && command -v npm >/dev/null; then
    sh bench/build.sh
else
    sh bench/build.sh nodejs npm
fi

work=build-linux/compare
if [ ! -f "$work/node_modules/hostile/package.json" ]; then
    # bench/hostile_runner.js is written against this version's interface.
    npm install --prefix "$work" --no-audit --no-fund --silent hostile@1.4.0
fi
exec python3 bench/compare.py --bin build-linux/bin --work "$work" "$@"
