#!/bin/bash
# Installs what the build needs (when missing) and builds dist/:
#   dist/setup_linux    32-bit i386 launcher (libstdc++/libgcc static)
#   dist/setup_linux64  the same sources for x86-64
#   (both built with clang against a Debian 11 sysroot, scripts/make-sysroot.sh,
#   so that they need glibc 2.17 at most; scripts/check-glibc-floor.sh checks it)
#   dist/mkbundle       the bundle builder (native)
#   dist/setup.exe, dist/setupc.exe  the Windows launchers (MinGW-w64)
# Safe to run again: only what is missing is installed, builds are incremental.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

ensure_packages cmake make g++ gcc-multilib g++-multilib libgtest-dev 7zip xz-utils \
    mingw-w64 python3 clang binutils debian-archive-keyring
"$ROOT/scripts/fetch-lzma-sdk.sh"
SYSROOT="$("$ROOT/scripts/make-sysroot.sh")"

JOBS=$(nproc)

echo "== native build (tools, unit tests)"
cmake_configure build/native -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_LAUNCHER=OFF
cmake --build build/native -j"$JOBS"

# A launcher for ARCH (x86_64 or i386) named NAME, in build tree DIR, built
# against the sysroot only: the host's library and include search paths are
# cleared so that nothing of the host's glibc is found.
portable_build() {
    local dir="$1" arch="$2" name="$3"
    echo "== $arch build ($name, glibc 2.17 and later)"
    env -u LIBRARY_PATH -u CPATH -u C_INCLUDE_PATH -u CPLUS_INCLUDE_PATH -u LD_LIBRARY_PATH \
        bash -c 'source "$0/scripts/lib/common.sh" && cmake_configure "$@"' "$ROOT" "$dir" \
        -DCMAKE_BUILD_TYPE=Release -DKV_LAUNCHER_NAME="$name" \
        -DKV_BUILD_TOOLS=OFF -DKV_BUILD_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/linux-sysroot.cmake" \
        -DKV_SYSROOT="$SYSROOT" -DKV_LINUX_ARCH="$arch"
    cmake --build "$dir" -j"$JOBS"
}
portable_build build/linux64 x86_64 setup_linux64
portable_build build/i386 i386 setup_linux
"$ROOT/scripts/check-glibc-floor.sh" build/linux64/bin/setup_linux64 build/i386/bin/setup_linux

echo "== Windows build (setup.exe, setupc.exe)"
cmake_configure build/mingw -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" \
    -DKV_BUILD_TOOLS=OFF -DKV_BUILD_TESTS=OFF
cmake --build build/mingw -j"$JOBS"

mkdir -p dist
install -m 0755 build/native/bin/mkbundle dist/mkbundle
install -m 0755 build/linux64/bin/setup_linux64 dist/setup_linux64
install -m 0755 build/i386/bin/setup_linux dist/setup_linux
install -m 0755 build/mingw/bin/setup.exe dist/setup.exe
install -m 0755 build/mingw/bin/setupc.exe dist/setupc.exe
echo "== dist/: $(cd dist && ls | tr '\n' ' ')"
