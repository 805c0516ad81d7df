#!/bin/sh
# Checks that every tracked C and C++ source is laid out as clang-format-14
# lays it out with the repository's .clang-format; prints each place that is
# not and fails. To fix: clang-format-14 -i FILE...
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

files=$(git ls-files '*.c' '*.h' '*.cc' '*.cpp' '*.hpp')
# shellcheck disable=SC2086 # the list is meant to split into words
clang-format-14 --dry-run -Werror $files
