#!/bin/sh
# Runs the extraction benchmark: installs what it measures and draws with
# (a Java runtime for the payload, makeself, zstd, gnuplot), builds the
# native tree (build/stream) and runs bench/bench.py with the given options;
# results in bench/results/latest.md, .json and .svg.
set -e
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
missing=""
[ -d /usr/lib/jvm/java-17-openjdk-amd64 ] || missing="$missing openjdk-17-jdk-headless"
command -v makeself >/dev/null || missing="$missing makeself"
command -v zstd >/dev/null || missing="$missing zstd"
command -v gnuplot >/dev/null || missing="$missing gnuplot-nox"
if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    apt-get -o DPkg::Lock::Timeout=600 install -y $missing
fi
cmake -S "$repo" -B "$repo/build/stream" -DKV_LAUNCHER_NAME=setup_linux64 >/dev/null
cmake --build "$repo/build/stream" -j"$(nproc)" >/dev/null
exec python3 "$here/bench.py" --build "$repo/build/stream/bin" "$@"
