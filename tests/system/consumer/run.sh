#!/bin/sh
# Installs the build tree into a scratch prefix, builds the consumer program
# against it (CMake package, and pkg-config on Linux), and runs it. On the
# Windows build it also makes the CPack zip and checks the DLL inside it.
# Usage: run.sh BUILD_DIR SOURCE_DIR linux|win [TOOLCHAIN_FILE EMULATOR]
set -eu
build=$1 source=$2 kind=$3
toolchain=${4:-} emulator=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
here=$(cd "$(dirname "$0")" && pwd)
expected='1.0.0 {"ip":"10.1.1.1","name":"consumer.example","enabled":1,"comment":"installed"}'

check_output() {
    if [ "$1" != "$expected" ]; then
        echo "unexpected output from $2: $1"
        exit 1
    fi
    echo "ok: $2"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null

if [ "$kind" = win ]; then
    cmake -S "$here" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
    cmake --build "$work/consumer" >/dev/null
    for file in bin/quendral-hosts.dll bin/qhosts.exe lib/libquendral-hosts.dll.a lib/quendral-hosts.lib \
        include/quendral-hosts.h; do
        [ -f "$work/prefix/$file" ] || { echo "missing from the installed tree: $file"; exit 1; }
    done
    cp "$work/prefix/bin/quendral-hosts.dll" "$work/consumer/"
    output=$(cd "$work/consumer" && "$emulator" consumer.exe hosts.txt | tr -d '\r')
    check_output "$output" "CMake package consumer (Windows)"

    (cd "$build" && cpack -G ZIP >/dev/null)
    zip="$build/packages/quendral-hosts-1.0.0-win64.zip"
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/zip"
    for file in bin/quendral-hosts.dll bin/qhosts.exe lib/libquendral-hosts.dll.a lib/quendral-hosts.lib \
        include/quendral-hosts.h README.md LICENSE; do
        [ -f "$work/zip/$file" ] || { echo "missing from the zip: $file"; exit 1; }
    done
    sh "$source/tests/check_binary.sh" pe "$work/zip/bin/quendral-hosts.dll" "$source/src/win/quendral-hosts.def"
    echo "ok: $(basename "$zip")"
else
    cmake -S "$here" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
    cmake --build "$work/consumer" >/dev/null
    output=$(cd "$work/consumer" && ./consumer hosts.txt)
    check_output "$output" "CMake package consumer"

    pc_dir=$(dirname "$(find "$work/prefix" -name quendral-hosts.pc)")
    flags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs quendral-hosts)
    # shellcheck disable=SC2086 # the flags are meant to split into words
    cc -Wall -Wextra -Werror "$here/consumer.c" $flags -o "$work/pc-consumer"
    libdir=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --variable=libdir quendral-hosts)
    output=$(cd "$work" && LD_LIBRARY_PATH="$libdir" ./pc-consumer pc-hosts.txt)
    check_output "$output" "pkg-config consumer"

    (cd "$build" && cpack -G TGZ >/dev/null)
    tar -tzf "$build"/packages/quendral-hosts-1.0.0-linux-*.tar.gz | grep -q 'bin/qhosts$'
    echo "ok: tarball"
fi
