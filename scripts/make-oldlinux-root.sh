#!/bin/bash
# Makes a minimal Debian 11 (bullseye, glibc 2.31) userland for the
# old-system tests, cached under build/oldlinux/<name> and made again only
# when its recipe changes. Prints the folder's path on stdout.
#   make-oldlinux-root.sh NAME ARCH [PACKAGE,...]
# NAME is the cache folder's name, ARCH a Debian architecture (i386, amd64),
# PACKAGES extra packages installed into it. Needs root and mmdebstrap.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"

name=${1:?usage: make-oldlinux-root.sh NAME ARCH [PACKAGE,...]} arch=${2:?ARCH missing}
include=${3:-}
root="$ROOT/build/oldlinux/$name"
recipe="bullseye minbase $arch $include"

mkdir -p "$(dirname "$root")"
# One maker at a time: a second test run waits for the first one's userland.
exec 9>"$root.lock"
flock 9

if [ -f "$root.recipe" ] && [ "$(cat "$root.recipe")" = "$recipe" ] && [ -x "$root/bin/sh" ]; then
    echo "$root"
    exit 0
fi
[ "$(id -u)" = 0 ] || { echo "make-oldlinux-root: needs root" >&2; exit 1; }
command -v mmdebstrap >/dev/null || { echo "make-oldlinux-root: mmdebstrap is missing" >&2; exit 1; }

echo "make-oldlinux-root: making $root ($recipe)" >&2
# Never into a file system mounted below (mmdebstrap mounts /proc and /sys
# while it works; an interrupted run may leave them).
remove() { rm -rf --one-file-system "$@"; }
remove "$root" "$root.new" "$root.recipe"
# Made beside its place and renamed when complete: an interrupted run leaves
# no half-made userland that a later run would take for a good one.
mmdebstrap --quiet --variant=minbase --architectures="$arch" ${include:+--include="$include"} \
    --keyring=/usr/share/keyrings/debian-archive-bullseye-stable.gpg \
    bullseye "$root.new" "deb $(debian_mirror) bullseye main" >&2 \
    || { remove "$root.new"; echo "make-oldlinux-root: mmdebstrap could not make the Debian 11 $arch userland" >&2; exit 1; }
mv "$root.new" "$root"
echo "$recipe" > "$root.recipe"
echo "$root"
