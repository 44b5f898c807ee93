#!/bin/sh
# Runs the extraction benchmark: builds the native tree (build/stream) and
# bench/bench.py with the given options; results in bench/results/latest.md.
set -e
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
if [ ! -d /usr/lib/jvm/java-17-openjdk-amd64 ]; then
    apt-get -o DPkg::Lock::Timeout=600 install -y openjdk-17-jdk-headless
fi
cmake -S "$repo" -B "$repo/build/stream" -DKV_LAUNCHER_NAME=setup_linux64 >/dev/null
cmake --build "$repo/build/stream" -j"$(nproc)" >/dev/null
exec python3 "$here/bench.py" --build "$repo/build/stream/bin" "$@"
