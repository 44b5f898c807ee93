# Toolchain for the portable Linux launchers: Debian's clang against the
# private Debian 11 sysroot made by scripts/make-sysroot.sh, so that the
# programs bind to glibc symbol versions of 2.17 or older and link gcc 10's
# static C++ runtime. KV_SYSROOT names the sysroot, KV_LINUX_ARCH the target
# (x86_64 or i386).
set(CMAKE_SYSTEM_NAME Linux)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KV_SYSROOT KV_LINUX_ARCH)

if(NOT KV_SYSROOT OR NOT EXISTS "${KV_SYSROOT}/usr/include/stdio.h")
  message(FATAL_ERROR "No sysroot at '${KV_SYSROOT}' (KV_SYSROOT); scripts/make-sysroot.sh makes it")
endif()
if(KV_LINUX_ARCH STREQUAL "i386")
  set(CMAKE_SYSTEM_PROCESSOR i686)
  set(kv_arch_flag -m32)
elseif(KV_LINUX_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(kv_arch_flag -m64)
else()
  message(FATAL_ERROR "KV_LINUX_ARCH must be i386 or x86_64, not '${KV_LINUX_ARCH}'")
endif()

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET x86_64-linux-gnu)
set(CMAKE_SYSROOT "${KV_SYSROOT}")
set(CMAKE_C_FLAGS_INIT "${kv_arch_flag}")
set(CMAKE_CXX_FLAGS_INIT "${kv_arch_flag}")
# gcc's runtime is linked statically: the sysroot has no libgcc_s.so.1.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${kv_arch_flag} -static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
