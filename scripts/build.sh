#!/bin/bash
# Installs what the build needs (when missing) and builds dist/:
#   dist/setup_linux    32-bit i386 launcher (libstdc++/libgcc static)
#   dist/setup_linux64  the same sources for x86-64
#   dist/mkbundle       the bundle builder (native)
#   dist/setup.exe, dist/setupc.exe  the Windows launchers (MinGW-w64)
# Safe to run again: only what is missing is installed, builds are incremental.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

ensure_packages cmake make g++ gcc-multilib g++-multilib libgtest-dev 7zip xz-utils \
    mingw-w64 python3
"$ROOT/scripts/fetch-lzma-sdk.sh"

JOBS=$(nproc)

echo "== native build (tools, unit tests, setup_linux64)"
cmake_configure build/native -DCMAKE_BUILD_TYPE=Release -DKV_LAUNCHER_NAME=setup_linux64
cmake --build build/native -j"$JOBS"

echo "== i386 build (setup_linux)"
cmake_configure build/i386 -DCMAKE_BUILD_TYPE=Release -DKV_LAUNCHER_NAME=setup_linux \
    -DKV_BUILD_TOOLS=OFF -DKV_BUILD_TESTS=OFF \
    -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-m32
cmake --build build/i386 -j"$JOBS"

echo "== Windows build (setup.exe, setupc.exe)"
cmake_configure build/mingw -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" \
    -DKV_BUILD_TOOLS=OFF -DKV_BUILD_TESTS=OFF
cmake --build build/mingw -j"$JOBS"

mkdir -p dist
install -m 0755 build/native/bin/mkbundle dist/mkbundle
install -m 0755 build/native/bin/setup_linux64 dist/setup_linux64
install -m 0755 build/i386/bin/setup_linux dist/setup_linux
install -m 0755 build/mingw/bin/setup.exe dist/setup.exe
install -m 0755 build/mingw/bin/setupc.exe dist/setupc.exe
echo "== dist/: $(cd dist && ls | tr '\n' ' ')"
