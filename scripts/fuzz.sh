#!/bin/bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp, clang with
# -fsanitize=fuzzer,address,undefined) in build/fuzz and runs each of them:
#
#   ./scripts/fuzz.sh [SECONDS]    every target for SECONDS (default 60),
#                                  in parallel on all cores, growing the
#                                  corpora in build/fuzz/corpus/<target>
#   ./scripts/fuzz.sh --runs N     every target for N executions from the
#                                  seeds alone, with a fixed seed (the short
#                                  run of scripts/test.sh)
#
# Seeds are made fresh by scripts/make-fuzz-corpus.py (7zz archives and
# bundles, typical texts). Ends with one line per target: executions and
# crashes (a crash, leak, timeout or out-of-memory input is kept in
# build/fuzz/artifacts/<target>/). Exit code 0 only when nothing was found.
set -uo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

MODE=time
LIMIT=60
case "${1:-}" in
    --runs) MODE=runs; LIMIT=${2:?"--runs needs a count"} ;;
    "") ;;
    *) LIMIT=$1 ;;
esac
[[ "$LIMIT" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS] | --runs N" >&2; exit 2; }

TARGETS=(bundle_walk_fuzz ini_file_fuzz properties_map_fuzz arg_assembly_fuzz version_fuzz extract_fuzz)
FUZZ="$ROOT/build/fuzz"

ensure_packages clang libclang-rt-14-dev 7zip python3 cmake make || exit 1
# One run at a time: runs share the build, the corpora and the logs.
mkdir -p "$FUZZ"
exec 9>"$FUZZ/.fuzz.lock"
flock 9
"$ROOT/scripts/fetch-lzma-sdk.sh" >/dev/null || exit 1

SAN="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=alignment -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
echo "== fuzz build (build/fuzz)"
CC=clang CXX=clang++ cmake_configure "$FUZZ" -DCMAKE_BUILD_TYPE=Release \
    -DKV_BUILD_FUZZERS=ON -DKV_BUILD_LAUNCHER=OFF -DKV_BUILD_TOOLS=OFF -DKV_BUILD_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    "-DCMAKE_C_FLAGS=$SAN" "-DCMAKE_CXX_FLAGS=$SAN" || exit 1
cmake --build "$FUZZ" -j"$(nproc)" --target "${TARGETS[@]}" >"$FUZZ/build.log" 2>&1 || {
    tail -40 "$FUZZ/build.log" >&2
    echo "error: the fuzz targets did not build" >&2
    exit 1
}

rm -rf "$FUZZ/seeds"
/usr/bin/python3 "$ROOT/scripts/make-fuzz-corpus.py" "$FUZZ/seeds" >/dev/null || exit 1

# run_target NAME: one libFuzzer run; its log goes to build/fuzz/logs/NAME.log.
run_target() {
    local t=$1 corpus options
    local artifacts="$FUZZ/artifacts/$t/" log="$FUZZ/logs/$t.log"
    mkdir -p "$artifacts" "$FUZZ/logs"
    options=(-print_final_stats=1 -close_fd_mask=3 -timeout=20 -rss_limit_mb=2560 -artifact_prefix="$artifacts")
    [ -f "$ROOT/fuzz/${t%_fuzz}.dict" ] && options+=(-dict="$ROOT/fuzz/${t%_fuzz}.dict")
    if [ "$MODE" = runs ]; then
        options+=(-runs="$LIMIT" -seed=1)
        corpus=("$FUZZ/seeds/$t")
    else
        options+=(-max_total_time="$LIMIT")
        mkdir -p "$FUZZ/corpus/$t"
        corpus=("$FUZZ/corpus/$t" "$FUZZ/seeds/$t")
    fi
    timeout -k 10 $((LIMIT + 600)) "$FUZZ/bin/$t" "${options[@]}" "${corpus[@]}" >"$log" 2>&1
    echo $? >"$FUZZ/logs/$t.rc"
}

# Findings of earlier runs are kept apart, so that the counts are this run's.
for t in "${TARGETS[@]}"; do
    if compgen -G "$FUZZ/artifacts/$t/*" >/dev/null; then
        mkdir -p "$FUZZ/artifacts-old/$t"
        mv "$FUZZ/artifacts/$t/"* "$FUZZ/artifacts-old/$t/"
    fi
done

if [ "$MODE" = runs ]; then
    echo "== fuzzing: ${#TARGETS[@]} targets, $LIMIT runs each"
else
    echo "== fuzzing: ${#TARGETS[@]} targets, $LIMIT s each, $(nproc) at a time"
fi
JOBS=$(nproc)
running=0
for t in "${TARGETS[@]}"; do
    run_target "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$JOBS" ]; then wait -n; running=$((running - 1)); fi
done
wait

TOTAL=0
FOUND=0
printf '%-22s %14s %8s\n' target executions crashes
for t in "${TARGETS[@]}"; do
    log="$FUZZ/logs/$t.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    execs=${execs:-0}
    crashes=$(find "$FUZZ/artifacts/$t" -type f | wc -l)
    rc=$(cat "$FUZZ/logs/$t.rc" 2>/dev/null || echo 1)
    if [ "$crashes" = 0 ] && [ "$rc" != 0 ]; then crashes=1; fi  # ended without an artifact
    printf '%-22s %14s %8s\n' "$t" "$execs" "$crashes"
    if [ "$crashes" != 0 ]; then
        grep -m3 -E 'ERROR|check failed|SUMMARY' "$log" | sed 's/^/    /'
        find "$FUZZ/artifacts/$t" -type f | sed 's/^/    input: /'
    fi
    TOTAL=$((TOTAL + execs))
    FOUND=$((FOUND + crashes))
done
printf '%-22s %14s %8s\n' total "$TOTAL" "$FOUND"
[ "$FOUND" = 0 ]
