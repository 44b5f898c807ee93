#!/bin/bash
# Makes i386 Linux programs runnable on this machine. Kernels with 32-bit
# emulation switched off answer "Exec format error"; there qemu-user-static
# from bookworm-backports (qemu 10: bookworm's 7.2 makes Wine far too slow)
# is installed through a private apt sources folder and registered with
# binfmt_misc for i386 ELF files. Safe to run again.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"

PROBE_DIR="$ROOT/build/qemu-probe"
mkdir -p "$PROBE_DIR"
if [ ! -x "$PROBE_DIR/probe32" ]; then
    ensure_packages gcc gcc-multilib
    printf 'int main(void){return 0;}\n' > "$PROBE_DIR/probe32.c"
    gcc -m32 -static -o "$PROBE_DIR/probe32" "$PROBE_DIR/probe32.c"
fi

if "$PROBE_DIR/probe32" 2>/dev/null; then
    exit 0
fi
echo "== this kernel runs no i386 programs; setting up qemu-user (bookworm-backports)"

if ! dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null | grep -q '^1:[1-9][0-9]'; then
    PRIV="$ROOT/build/apt-backports"
    mkdir -p "$PRIV/sources.d" "$PRIV/lists/partial"
    cp /etc/apt/sources.list.d/debian.sources "$PRIV/sources.d/debian.sources"
    # The first stanza of the system's entry is the main archive; the copy
    # points at its backports suite.
    awk 'BEGIN{RS=""; ORS="\n\n"} NR==1 {sub(/Suites:[^\n]*/, "Suites: bookworm-backports"); print}' \
        /etc/apt/sources.list.d/debian.sources > "$PRIV/sources.d/backports.sources"
    PRIV_OPTS=(-o "Dir::Etc::SourceParts=$PRIV/sources.d" -o Dir::Etc::SourceList=/dev/null
               -o "Dir::State::Lists=$PRIV/lists")
    as_root "${APT_GET[@]}" "${PRIV_OPTS[@]}" update >/dev/null
    as_root "${APT_GET[@]}" "${PRIV_OPTS[@]}" install -t bookworm-backports qemu-user-static \
        >/tmp/kv-apt-qemu.log 2>&1 || { cat /tmp/kv-apt-qemu.log >&2; exit 1; }
fi

if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    QEMU=/usr/bin/qemu-i386
    [ -x "$QEMU" ] || QEMU=/usr/bin/qemu-i386-static
    echo ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$QEMU:F" \
        | as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
fi

if ! "$PROBE_DIR/probe32"; then
    echo "error: i386 programs still do not run after the qemu-user registration" >&2
    exit 1
fi
echo "== i386 programs now run through $(readlink -f /usr/bin/qemu-i386 || echo qemu-i386)"
