#!/bin/bash
# The main job, end to end: builds everything (scripts/build.sh), makes i386
# programs runnable (scripts/setup-qemu.sh, as the tests do), packs the demo
# installer and runtime of demo/ into a bundle on the 32-bit launcher
# (build/demo/setup_linux_demo), lists its blocks, installs it in console
# mode into a fresh folder, which starts the demo's stand-in installer, and
# shows the installed tree and the arguments the installer received.
# Ends non-zero, naming the step, when any step fails. Safe to run again:
# each run installs into a new folder.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

fail() { echo "demo: $*" >&2; exit 1; }
trap 'echo "demo: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

./scripts/build.sh || fail "the build failed"
./scripts/setup-qemu.sh || fail "i386 programs cannot be run on this machine"

OUT=build/demo
BUNDLE="$OUT/setup_linux_demo"
rm -rf "$OUT"
mkdir -p "$OUT"
/usr/bin/python3 demo/make_logo.py "$OUT/logo.png"

echo
echo "== building the demo bundle $BUNDLE"
dist/mkbundle -o "$BUNDLE" --launcher dist/setup_linux --logo "$OUT/logo.png" \
    --version-file demo/version.properties --installer demo/installer --jre demo/jre \
    --release KVINSTALLER_DEMO_1_0 || fail "mkbundle could not build the demo bundle"

echo
echo "== dist/mkbundle --list $BUNDLE"
dist/mkbundle --list "$BUNDLE" || fail "mkbundle could not list the demo bundle"

echo
echo "== $BUNDLE -version"
version_out="$("$BUNDLE" -version 2>&1)" || fail "the launcher's -version failed: $version_out"
echo "$version_out"
grep -qx "Korvane Installer version KVINSTALLER_DEMO_1_0" <<<"$version_out" \
    || fail "the launcher did not print the demo's release line"

# A fresh install folder and a home folder of its own, so that the launcher's
# remembered location does not land in your real home folder.
RUN="$(mktemp -d "$ROOT/$OUT/run.XXXXXX")"
mkdir -p "$RUN/home"
TARGET="$RUN/demo-install"
echo
echo "== $BUNDLE -silent -installPath $TARGET"
set +e
HOME="$RUN/home" "$BUNDLE" -silent -installPath "$TARGET" </dev/null 2>&1 | tee "$RUN/install.log"
status=${PIPESTATUS[0]}
set -e
[ "$status" = 0 ] || fail "the console install ended with exit code $status"
grep -q "^Korvane Installer (demo stand-in) version" "$RUN/install.log" \
    || fail "the demo installer did not run"
grep -qx "arg\[[0-9]*\] = -installpath" "$RUN/install.log" \
    || fail "the demo installer was not given -installpath"
grep -qx "arg\[[0-9]*\] = $TARGET" "$RUN/install.log" \
    || fail "the demo installer was not given the install folder"

echo
echo "== installed into $TARGET:"
(cd "$TARGET" && find . -type f | sort)
[ -x "$TARGET/maintenance/kvInstaller/x86-linux2/kvInstaller" ] \
    || fail "the installer was not extracted"
[ -f "$TARGET/maintenance/kvInstaller/x86-linux2/jre/1.8.0_40/COPYRIGHT" ] \
    || fail "the Java runtime was not extracted"
[ ! -e "$TARGET/.installerLock" ] && [ ! -e "$TARGET/.jreLock" ] \
    || fail "a lock file was left behind: the extraction did not complete"

echo
echo "== the demo installer received (above): $(grep -c '^arg\[' "$RUN/install.log") arguments"
echo "demo: done; the demo bundle installed into $TARGET"
