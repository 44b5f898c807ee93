#!/bin/bash
# Fetches the LZMA SDK C sources from Debian's 7zip source package into
# third_party/lzma-sdk/ (ignored by git). The system's apt sources are not
# touched: a private deb-src list and a private lists folder are used.
#
# The code needs the SDK's identifiers of release 23.01 and later; it is
# tested with 26.02. An older SDK in place is fetched again; an older one
# fetched stops the script with a message naming both versions. CMake
# (cmake/lzma_sdk.cmake) checks the same again.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DEST="$ROOT/third_party/lzma-sdk"
WORK="$ROOT/third_party/.apt-src"
NEEDED=23.01
TESTED=26.02

fail() {
    echo "fetch-lzma-sdk: $*" >&2
    echo "fetch-lzma-sdk: could not fetch the LZMA SDK sources (Debian source package 7zip)." >&2
    exit 1
}

# sdk_version C_DIR: "MAJOR.MINOR" from the SDK's C/7zVersion.h, or nothing.
sdk_version() {
    awk '$1 == "#define" && $2 == "MY_VER_MAJOR" {major = $3}
         $1 == "#define" && $2 == "MY_VER_MINOR" {minor = $3}
         END {if (major != "" && minor != "") printf "%d.%02d\n", major, minor}' \
        "$1/7zVersion.h" 2>/dev/null || true
}

# recent_enough VERSION: whether VERSION is NEEDED or later.
recent_enough() {
    [ -n "$1" ] && [ "$(printf '%s\n%s\n' "$NEEDED" "$1" | sort -V | head -n1)" = "$NEEDED" ]
}

if [ -f "$DEST/C/7zDec.c" ] && [ -f "$DEST/C/Lzma2DecMt.c" ]; then
    found="$(sdk_version "$DEST/C")"
    recent_enough "$found" && exit 0
    echo "fetch-lzma-sdk: the LZMA SDK in $DEST is ${found:-of unknown version}; fetching it again"
fi

SYSTEM_SOURCES=/etc/apt/sources.list.d/debian.sources
[ -f "$SYSTEM_SOURCES" ] || fail "no $SYSTEM_SOURCES to copy the Debian mirrors from"

rm -rf "$WORK"
mkdir -p "$WORK/sources.d" "$WORK/lists/partial" "$WORK/download"
sed -e 's/^Types:.*/Types: deb-src/' "$SYSTEM_SOURCES" > "$WORK/sources.d/debian-src.sources"

APT_OPTS=(-o DPkg::Lock::Timeout=600
          -o "Dir::Etc::SourceParts=$WORK/sources.d"
          -o Dir::Etc::SourceList=/dev/null
          -o "Dir::State::Lists=$WORK/lists")

apt-get "${APT_OPTS[@]}" update >"$WORK/update.log" 2>&1 \
    || { cat "$WORK/update.log" >&2; fail "apt-get update of the private deb-src list failed"; }
(cd "$WORK/download" && apt-get "${APT_OPTS[@]}" source --download-only 7zip) >"$WORK/source.log" 2>&1 \
    || { cat "$WORK/source.log" >&2; fail "apt-get source --download-only 7zip failed"; }

ORIG="$(ls "$WORK"/download/7zip_*.orig.tar.* 2>/dev/null | head -n1 || true)"
[ -n "$ORIG" ] || fail "no 7zip orig tarball was downloaded"

rm -rf "$DEST.tmp"
mkdir -p "$DEST.tmp"
tar -xf "$ORIG" -C "$DEST.tmp" || fail "could not unpack $ORIG"
CDIR="$(find "$DEST.tmp" -maxdepth 3 -type d -name C | head -n1)"
[ -n "$CDIR" ] && [ -f "$CDIR/7zDec.c" ] || fail "the unpacked 7zip sources have no C/7zDec.c"
found="$(sdk_version "$CDIR")"
if ! recent_enough "$found"; then
    rm -rf "$DEST.tmp" "$WORK"
    fail "$(basename "$ORIG") holds LZMA SDK ${found:-of unknown version}; this build needs $NEEDED or later (tested with $TESTED)"
fi
rm -rf "$DEST"
mkdir -p "$DEST"
mv "$CDIR" "$DEST/C"
basename "$ORIG" > "$DEST/VERSION"
rm -rf "$DEST.tmp" "$WORK"
echo "fetch-lzma-sdk: LZMA SDK $found C sources from $(cat "$DEST/VERSION") in third_party/lzma-sdk/C"
