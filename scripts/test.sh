#!/bin/bash
# Runs the whole test suite. First builds dist/ (scripts/build.sh) and
# installs what the tests need (scripts/lib/test-deps.sh), then runs these
# groups, every one of them even when an earlier one failed:
#   unit-sanitize  the unit tests built with AddressSanitizer and
#                  UndefinedBehaviorSanitizer (build/sanitize)
#   unit           the unit tests of the native build (build/native)
#   fuzz           every libFuzzer target for a short fixed number of runs
#                  (scripts/fuzz.sh --runs, KV_FUZZ_RUNS, default 10000)
#   format         every C++ file as .clang-format lays it out
#   glibc-floor    the shipped Linux launchers need glibc 2.17 at most
#   e2e            tests/e2e without the gui, windows and oldlinux markers
#   e2e-gui        tests/e2e marked gui, under Xvfb
#   e2e-windows    tests/e2e marked windows, under Xvfb
#   e2e-oldlinux   tests/e2e marked oldlinux (Debian 11 userlands), under Xvfb
# and ends with one line per group ("N passed, M failed"). The exit code is
# 0 only when every group passed. Results (JUnit XML) are kept in
# build/test-results/.
#
# Arguments are handed to every pytest run, e.g. ./scripts/test.sh -k walker
# Safe to run again: installs only what is missing, builds incrementally.
set -uo pipefail
# The whole run is one block that bash reads before starting it, so that
# editing this file during a run does not change the run.
{
source "$(dirname "$0")/lib/common.sh"
source "$ROOT/scripts/lib/test-deps.sh"
cd "$ROOT"

PYTEST_ARGS=("$@")
FUZZ_RUNS=${KV_FUZZ_RUNS:-10000}  # executions per fuzz target
START=$SECONDS
RESULTS="$ROOT/build/test-results"
JOBS=$(nproc)
# Debian's interpreter, which has the python3-* packages (PATH may offer another).
PYTHON=/usr/bin/python3
export PYTHONDONTWRITEBYTECODE=1
export KV_DIST="$ROOT/dist"

die() { echo "error: $*" >&2; exit 1; }

# ---- set-up: build, packages, i386 execution ---------------------------------
./scripts/build.sh || die "the build failed"
install_test_deps || die "could not install the test packages"
install_gui_deps || die "could not install the packages of the gui tests"
install_windows_deps || die "could not install the packages of the windows tests"
install_oldlinux_deps || die "could not install the packages of the oldlinux tests"
./scripts/setup-qemu.sh || die "i386 programs cannot be run on this machine"
# How this machine runs the i386 launcher and Wine: natively or through
# qemu-user, and whether argv[0] survives (a fresh machine shows it here).
I386_STATUS="$(./scripts/setup-qemu.sh --report)"

rm -rf "$RESULTS"
mkdir -p "$RESULTS"
SUMMARY=()
FAILED=()

# record GROUP EXIT_CODE XML: one summary line for a finished group.
record() {
    local group=$1 rc=$2 xml=$3 counts
    counts="$("$PYTHON" "$ROOT/scripts/lib/junit_summary.py" "$xml")"
    if [ "$rc" = 0 ]; then
        SUMMARY+=("$(printf '%-14s %s' "$group:" "$counts")")
    else
        SUMMARY+=("$(printf '%-14s %s  -- FAILED (exit code %s)' "$group:" "$counts" "$rc")")
        FAILED+=("$group")
    fi
}

# run_unit GROUP BINARY: runs one GoogleTest program from its own folder.
run_unit() {
    local group=$1 bin=$2 xml="$RESULTS/$1.xml" rc
    echo "== $group: $bin"
    if [ ! -x "$bin" ]; then
        SUMMARY+=("$(printf '%-14s %s' "$group:" "not built -- FAILED")")
        FAILED+=("$group")
        return
    fi
    (cd "$(dirname "$bin")" && timeout -k 30 1800 "./$(basename "$bin")" --gtest_output="xml:$xml")
    rc=$?
    record "$group" "$rc" "$xml"
}

# run_e2e GROUP MARKER_EXPRESSION DISPLAY(plain|xvfb): one pytest run over
# tests/e2e; a group without tests is reported as such and not started.
run_e2e() {
    local group=$1 expr=$2 display=$3 xml="$RESULTS/$1.xml" rc cmd
    "$PYTHON" -m pytest --collect-only -q -m "$expr" "${PYTEST_ARGS[@]}" tests/e2e \
        >"$RESULTS/$group.collect.log" 2>&1
    if [ $? = 5 ]; then
        SUMMARY+=("$(printf '%-14s %s' "$group:" "no tests")")
        return
    fi
    echo "== $group: pytest -m \"$expr\""
    cmd=("$PYTHON" -m pytest -m "$expr" --continue-on-collection-errors
         --junitxml="$xml" "${PYTEST_ARGS[@]}" tests/e2e)
    if [ "$display" = xvfb ]; then
        cmd=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "${cmd[@]}")
    fi
    timeout -k 30 2400 "${cmd[@]}"
    rc=$?
    record "$group" "$rc" "$xml"
}

# ---- unit tests under the sanitizers -----------------------------------------
echo "== sanitizer build (build/sanitize)"
SAN="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
# The only C code is the LZMA SDK, whose readers load unaligned 64-bit values
# on purpose where the CPU allows it (x86); everything else is checked fully.
SAN_C="$SAN -fno-sanitize=alignment"
if cmake_configure build/sanitize -DCMAKE_BUILD_TYPE=Debug \
        -DKV_BUILD_LAUNCHER=OFF -DKV_BUILD_TOOLS=OFF -DKV_BUILD_TESTS=ON \
        "-DCMAKE_C_FLAGS=$SAN_C" "-DCMAKE_CXX_FLAGS=$SAN" "-DCMAKE_EXE_LINKER_FLAGS=$SAN" \
    && cmake --build build/sanitize -j"$JOBS" --target kv_unit_tests; then
    ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        run_unit unit-sanitize build/sanitize/tests/unit/kv_unit_tests
else
    SUMMARY+=("$(printf '%-14s %s' "unit-sanitize:" "build failed -- FAILED")")
    FAILED+=(unit-sanitize)
fi

# ---- unit tests of the native build --------------------------------------------
run_unit unit build/native/tests/unit/kv_unit_tests

# ---- fuzz targets: a short fixed run of each ------------------------------------
# scripts/fuzz.sh builds build/fuzz with clang (installing clang and
# libclang-rt-14-dev when missing) and runs every target from its seeds.
echo "== fuzz: ./scripts/fuzz.sh --runs $FUZZ_RUNS"
if ./scripts/fuzz.sh --runs "$FUZZ_RUNS" >"$RESULTS/fuzz.log" 2>&1; then
    SUMMARY+=("$(printf '%-14s %s' "fuzz:" "$(tail -1 "$RESULTS/fuzz.log" | awk '{print $2 " runs, " $3 " crashes"}')")")
else
    sed -n '/^target /,$p' "$RESULTS/fuzz.log"
    tail -20 "$RESULTS/fuzz.log"
    SUMMARY+=("$(printf '%-14s %s' "fuzz:" "see build/test-results/fuzz.log -- FAILED")")
    FAILED+=(fuzz)
fi

# ---- formatting: every C++ file of the tree as .clang-format says ----------------
echo "== format: clang-format --dry-run --Werror"
if git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1; then
    mapfile -t SOURCES < <(git -C "$ROOT" ls-files '*.cpp' '*.h')
else
    mapfile -t SOURCES < <(find base core extract platform tools tests fuzz -name '*.cpp' -o -name '*.h')
fi
if [ "${#SOURCES[@]}" -gt 0 ] && clang-format --dry-run --Werror "${SOURCES[@]}" >"$RESULTS/format.log" 2>&1; then
    SUMMARY+=("$(printf '%-14s %s' "format:" "${#SOURCES[@]} files as .clang-format lays them out")")
else
    head -40 "$RESULTS/format.log"
    SUMMARY+=("$(printf '%-14s %s' "format:" "see build/test-results/format.log -- FAILED")")
    FAILED+=(format)
fi

# ---- the shipped Linux launchers start on glibc 2.17 ----------------------------
echo "== glibc-floor: scripts/check-glibc-floor.sh"
if ./scripts/check-glibc-floor.sh dist/setup_linux dist/setup_linux64 >"$RESULTS/glibc-floor.log" 2>&1; then
    SUMMARY+=("$(printf '%-14s %s' "glibc-floor:" "$(sed -n 's/^ok   dist\/\([^:]*\): highest glibc symbol version \(GLIBC_[0-9.]*\).*/\1 \2/p' \
        "$RESULTS/glibc-floor.log" | paste -sd, | sed 's/,/, /g')")")
else
    cat "$RESULTS/glibc-floor.log"
    SUMMARY+=("$(printf '%-14s %s' "glibc-floor:" "see build/test-results/glibc-floor.log -- FAILED")")
    FAILED+=(glibc-floor)
fi

# ---- end-to-end groups --------------------------------------------------------
run_e2e e2e "not gui and not windows and not oldlinux" plain
run_e2e e2e-gui "gui and not windows and not oldlinux" xvfb
run_e2e e2e-windows "windows" xvfb
run_e2e e2e-oldlinux "oldlinux" xvfb

# ---- summary -------------------------------------------------------------------
echo
echo "== summary ($((SECONDS - START)) s)"
echo "$I386_STATUS"
printf '%s\n' "${SUMMARY[@]}"
if [ ${#FAILED[@]} -ne 0 ]; then
    echo "FAILED: ${FAILED[*]}"
    exit 1
fi
echo "all groups passed"
exit 0
}
