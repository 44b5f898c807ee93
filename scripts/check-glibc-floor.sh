#!/bin/bash
# Fails when a Linux launcher would not start on glibc 2.17: when it imports
# a symbol version newer than GLIBC_2.17 (or GLIBCXX/CXXABI/GCC versions at
# all, which mean the C++ runtime was not linked statically), or needs a
# library other than libc, libdl, libpthread, libm and the dynamic loader.
# Prints each program's highest glibc version.
#   check-glibc-floor.sh PROGRAM...
set -uo pipefail
FLOOR=2.17
ALLOWED='^(libc\.so\.6|libdl\.so\.2|libpthread\.so\.0|libm\.so\.6|ld-linux\.so\.2|ld-linux-x86-64\.so\.2)$'

[ $# -gt 0 ] || { echo "usage: $0 PROGRAM..." >&2; exit 2; }
command -v objdump >/dev/null || { echo "check-glibc-floor: objdump is missing (package binutils)" >&2; exit 1; }

newer_than_floor() {  # VERSION -> true when above FLOOR
    [ "$1" != "$FLOOR" ] && [ "$(printf '%s\n%s\n' "$FLOOR" "$1" | sort -V | tail -1)" = "$1" ]
}

check() {
    local prog="$1" bad=0 symbols versions highest v lib
    symbols=$(objdump -T "$prog" 2>/dev/null) || { echo "FAIL $prog: not an ELF program objdump can read"; return 1; }
    versions=$(grep -o 'GLIBC_[0-9][0-9.]*' <<<"$symbols" | sed 's/GLIBC_//' | sort -Vu)
    highest=$(tail -1 <<<"$versions")
    for v in $versions; do
        if newer_than_floor "$v"; then
            echo "FAIL $prog: needs GLIBC_$v:"
            grep -E "GLIBC_${v//./\\.}([) ]|\$)" <<<"$symbols" | awk '{print "  " $NF}' | sort -u
            bad=1
        fi
    done
    if grep -Eq '(GLIBCXX|CXXABI|GCC)_[0-9]' <<<"$symbols"; then
        echo "FAIL $prog: imports the C++ or gcc runtime, which must be linked statically"
        bad=1
    fi
    for lib in $(objdump -p "$prog" | awk '$1 == "NEEDED" {print $2}'); do
        [[ "$lib" =~ $ALLOWED ]] || { echo "FAIL $prog: needs $lib"; bad=1; }
    done
    [ -n "$highest" ] || { echo "FAIL $prog: imports no glibc symbol version (not dynamically linked against glibc?)"; bad=1; }
    [ $bad = 0 ] && echo "ok   $prog: highest glibc symbol version GLIBC_$highest (floor $FLOOR)"
    return $bad
}

status=0
for prog in "$@"; do check "$prog" || status=1; done
[ $status = 0 ] || echo "check-glibc-floor: a launcher would not start on glibc $FLOOR" >&2
exit $status
