#!/bin/sh
# Checks what the built library exports (exactly the hosts_* functions) and
# what it imports: the DLL nothing but Windows system DLLs; the Linux library
# only libc, with no symbol of a glibc version newer than 2.17, so that it
# loads on every current Linux. A sanitizer build, whose runtime brings its
# own needs, has its imports listed but not judged.
# Usage: check_binary.sh elf|pe LIBRARY DEF_FILE (the export list)
#        check_binary.sh program PROGRAM NEEDED... (the libraries it may need)
set -eu
kind=$1 library=$2

# The glibc versions and libraries an ELF file needs; fails on a version
# newer than 2.17 or a library that is not in the list given.
check_elf_imports() {
    file=$1
    shift
    needed=$(objdump -p "$file" | awk '$1 == "NEEDED" {print $2}')
    echo "needs: $(echo $needed)"
    case " $(echo $needed) " in
    *" libasan"*|*" libubsan"*)
        echo "sanitizer build: imports not judged"
        return 0 ;;
    esac
    for lib in $needed; do
        allowed=no
        for ok in "$@"; do
            [ "$lib" = "$ok" ] && allowed=yes
        done
        if [ $allowed = no ]; then
            echo "needs a library beyond the expected ones ($*): $lib"
            return 1
        fi
    done
    newest=$(objdump -T "$file" | grep -o 'GLIBC_[0-9][0-9.]*' | sed 's/GLIBC_//' | sort -t. -k1,1n -k2,2n -k3,3n | tail -1)
    echo "newest glibc version imported: ${newest:-none}"
    too_new=$(objdump -T "$file" | awk '{for (i = 1; i <= NF; i++) if ($i ~ /^\(?GLIBC_[0-9]/) {v = $i; gsub(/[()]/, "", v); split(substr(v, 7), p, "."); if (p[1] > 2 || (p[1] == 2 && p[2] > 17)) print v, $NF}}')
    if [ -n "$too_new" ]; then
        echo "imports symbols of glibc versions newer than 2.17:"
        echo "$too_new"
        return 1
    fi
}

if [ "$kind" = program ]; then
    shift 2
    check_elf_imports "$library" "$@"
    exit 0
fi

def_file=$3
actual=$(mktemp) expected=$(mktemp)
trap 'rm -f "$actual" "$expected"' EXIT
awk '/^EXPORTS/ {e=1; next} e && NF {print $1}' "$def_file" | sort > "$expected"

case $kind in
elf)
    check_elf_imports "$library" libc.so.6
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
