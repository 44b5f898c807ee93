#!/bin/bash
# The main job, end to end: builds everything (scripts/build.sh), packs the
# demo installer and runtime of demo/ into a bundle on the 32-bit launcher
# (build/demo/setup_linux_demo), lists its blocks, and installs it in
# console mode into a fresh folder, which starts the demo's stand-in
# installer. Safe to run again: each run installs into a new folder.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

./scripts/build.sh

OUT=build/demo
BUNDLE="$OUT/setup_linux_demo"
rm -rf "$OUT"
mkdir -p "$OUT"
/usr/bin/python3 demo/make_logo.py "$OUT/logo.png"

echo
echo "== building the demo bundle $BUNDLE"
dist/mkbundle -o "$BUNDLE" --launcher dist/setup_linux --logo "$OUT/logo.png" \
    --version-file demo/version.properties --installer demo/installer --jre demo/jre \
    --release KVINSTALLER_DEMO_1_0
chmod 0755 "$BUNDLE"

echo
echo "== dist/mkbundle --list $BUNDLE"
dist/mkbundle --list "$BUNDLE"

echo
echo "== $BUNDLE -version"
version_out="$("$BUNDLE" -version 2>&1 || true)"
echo "$version_out"
if ! grep -q "Korvane Installer version" <<<"$version_out"; then
    echo
    echo "(this launcher cannot install yet; the demo ends with the bundle above)"
    exit 0
fi

# A fresh install folder and a home folder of its own, so that the launcher's
# remembered location does not land in your real home folder.
RUN="$(mktemp -d "$ROOT/$OUT/run.XXXXXX")"
mkdir -p "$RUN/home"
echo
echo "== $BUNDLE -silent -installPath $RUN/demo-install"
HOME="$RUN/home" "$BUNDLE" -silent -installPath "$RUN/demo-install"
echo
echo "== installed into $RUN/demo-install:"
(cd "$RUN/demo-install" && find . -type f | sort)
