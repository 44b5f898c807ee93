#!/bin/bash
# Makes i386 Linux programs runnable on this machine, keeping argv[0] as a
# kernel that runs them natively does. Kernels with 32-bit emulation
# switched off answer "Exec format error"; there qemu-user-static from
# bookworm-backports (qemu 10: bookworm's 7.2 makes Wine far too slow) is
# installed through a private apt sources folder and registered with
# binfmt_misc from Debian's own qemu-i386.conf (flags OPF: the P flag keeps
# argv[0]). An existing qemu-i386 registration without the P flag is
# replaced. The result is proved with a tiny i386 program that prints its
# own argv[0] when started under another name. Safe to run again.
#
#   ./scripts/setup-qemu.sh            set up (when needed) and prove it
#   ./scripts/setup-qemu.sh --report   one line: how i386 programs run here
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"

BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=$BINFMT/qemu-i386
PROBE_DIR="$ROOT/build/qemu-probe"
PROBE="$PROBE_DIR/argv0-probe32"

fail() { echo "setup-qemu: $*" >&2; exit 1; }

build_probe() {
    [ -x "$PROBE" ] && return 0
    ensure_packages gcc gcc-multilib || fail "could not install gcc-multilib for the i386 probe"
    mkdir -p "$PROBE_DIR"
    printf '#include <stdio.h>\nint main(int argc, char **argv) { (void)argc; puts(argv[0]); return 0; }\n' \
        > "$PROBE_DIR/argv0-probe32.c"
    gcc -m32 -static -o "$PROBE.tmp" "$PROBE_DIR/argv0-probe32.c" || fail "could not build the i386 probe"
    mv "$PROBE.tmp" "$PROBE"
}

# What the probe prints as its argv[0] when started as "kv-argv0-probe"
# ("" when it does not run).
probe_argv0() {
    (exec -a kv-argv0-probe "$PROBE") 2>/dev/null || true
}

registered() { [ -e "$ENTRY" ] && grep -qx enabled "$ENTRY"; }
registration_flags() { sed -n 's/^flags: *//p' "$ENTRY" 2>/dev/null; }
registration_interpreter() { sed -n 's/^interpreter //p' "$ENTRY" 2>/dev/null; }

report() {
    local seen how
    seen="$(probe_argv0)"
    if [ -z "$seen" ]; then
        echo "i386 programs: do not run"
        return
    fi
    if registered; then
        how="through qemu-user ($(registration_interpreter), flags $(registration_flags))"
    else
        how="natively"
    fi
    if [ "$seen" = kv-argv0-probe ]; then
        echo "i386 programs: run $how; argv[0] preserved"
    else
        echo "i386 programs: run $how; argv[0] NOT preserved (seen: $seen)"
    fi
}

build_probe
if [ "${1:-}" = --report ]; then
    report
    exit 0
fi

if [ ! -e "$BINFMT/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$BINFMT" || fail "could not mount binfmt_misc at $BINFMT"
fi
# A registration without the P flag hands qemu the program's full path as
# argv[0]: the launcher would open itself under a name it was not started as.
if [ -e "$ENTRY" ] && [[ "$(registration_flags)" != *P* ]]; then
    echo "== replacing the qemu-i386 registration with flags '$(registration_flags)' (no P: argv[0] lost)"
    echo -1 | as_root tee "$ENTRY" >/dev/null || fail "could not remove the registration $ENTRY"
fi

if [ "$(probe_argv0)" = kv-argv0-probe ]; then
    exit 0
fi
echo "== i386 programs do not run here with argv[0] kept; registering qemu-user (bookworm-backports)"

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
    as_root "${APT_GET[@]}" "${PRIV_OPTS[@]}" update >"$PRIV/update.log" 2>&1 \
        || { cat "$PRIV/update.log" >&2; fail "apt-get update of bookworm-backports failed"; }
    as_root "${APT_GET[@]}" "${PRIV_OPTS[@]}" install -t bookworm-backports qemu-user-static \
        >"$PRIV/install.log" 2>&1 || { cat "$PRIV/install.log" >&2; fail "could not install qemu-user-static"; }
fi

# Debian's own registration line (interpreter .../i386-binfmt-P, flags OPF).
CONF=""
for candidate in /usr/share/qemu/binfmt.d/qemu-i386.conf /usr/lib/binfmt.d/qemu-i386.conf; do
    if [ -f "$candidate" ]; then CONF=$candidate; break; fi
done
[ -n "$CONF" ] || fail "qemu-user-static installed no qemu-i386.conf (looked in /usr/share/qemu/binfmt.d and /usr/lib/binfmt.d)"
LINE="$(grep -v '^[[:space:]]*#' "$CONF" | grep -m1 '^:qemu-i386:')" || fail "$CONF holds no qemu-i386 line"
INTERPRETER="$(cut -d: -f7 <<<"$LINE")"
[ -x "$INTERPRETER" ] || fail "the interpreter $INTERPRETER named in $CONF is missing"
[ -e "$ENTRY" ] && { echo -1 | as_root tee "$ENTRY" >/dev/null || fail "could not remove the registration $ENTRY"; }
printf '%s\n' "$LINE" | as_root tee "$BINFMT/register" >/dev/null || fail "could not register $CONF with binfmt_misc"

seen="$(probe_argv0)"
[ -n "$seen" ] || fail "i386 programs still do not run after registering $CONF"
[ "$seen" = kv-argv0-probe ] || fail "i386 programs run through $INTERPRETER but do not keep argv[0] (seen: $seen)"
echo "== i386 programs now run through $INTERPRETER (flags $(registration_flags)); argv[0] preserved"
