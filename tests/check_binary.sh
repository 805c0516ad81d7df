#!/bin/sh
# Checks what the built library exports (exactly the hosts_* functions) and,
# for the DLL, that it imports nothing but Windows system DLLs.
# Usage: check_binary.sh elf|pe LIBRARY DEF_FILE (the export list)
set -eu
kind=$1 library=$2 def_file=$3
actual=$(mktemp) expected=$(mktemp)
trap 'rm -f "$actual" "$expected"' EXIT
awk '/^EXPORTS/ {e=1; next} e && NF {print $1}' "$def_file" | sort > "$expected"

case $kind in
elf)
    # Only defined, global symbols count; the C runtime's version markers
    # are not functions of ours.
    nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort > "$actual"
    ;;
pe)
    x86_64-w64-mingw32-objdump -p "$library" |
        awk '/^\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && NF==0 {t=0} t {print $NF}' |
        sort > "$actual"
    imports=$(x86_64-w64-mingw32-objdump -p "$library" | awk '/DLL Name:/ {print tolower($3)}')
    for dll in $imports; do
        case $dll in
        kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll|ntdll.dll|ucrtbase.dll|api-ms-win-*) ;;
        *) echo "imports a non-system DLL: $dll"; exit 1 ;;
        esac
    done
    echo "imports: $(echo $imports)"
    ;;
*) echo "unknown kind $kind"; exit 2 ;;
esac

if ! diff -u "$expected" "$actual"; then
    echo "the exported set differs from $def_file"
    exit 1
fi
echo "exports: $(wc -l < "$actual") functions, as listed"
