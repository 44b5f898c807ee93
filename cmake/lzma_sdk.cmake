# The LZMA SDK's C decoder, compiled from the sources that
# scripts/fetch-lzma-sdk.sh unpacked into third_party/lzma-sdk/C, with the
# thread wrappers (Threads.c).
set(KV_LZMA_C "${KV_LZMA_SDK_DIR}/C")
if(NOT EXISTS "${KV_LZMA_C}/7zDec.c")
  message(FATAL_ERROR "LZMA SDK sources not found in ${KV_LZMA_C}; run scripts/fetch-lzma-sdk.sh")
endif()

# The code uses identifiers that the SDK has from release 23.01 on.
set(KV_LZMA_NEEDED 23.01)
set(KV_LZMA_TESTED 26.02)
file(STRINGS "${KV_LZMA_C}/7zVersion.h" KV_LZMA_VERSION_LINES REGEX "^#define MY_VER_(MAJOR|MINOR) ")
string(REGEX REPLACE ".*MY_VER_MAJOR ([0-9]+).*" "\\1" KV_LZMA_MAJOR "${KV_LZMA_VERSION_LINES}")
string(REGEX REPLACE ".*MY_VER_MINOR ([0-9]+).*" "\\1" KV_LZMA_MINOR "${KV_LZMA_VERSION_LINES}")
if(NOT KV_LZMA_MAJOR MATCHES "^[0-9]+$" OR NOT KV_LZMA_MINOR MATCHES "^[0-9]+$")
  message(FATAL_ERROR "Cannot read the LZMA SDK's version from ${KV_LZMA_C}/7zVersion.h; "
                      "this build needs ${KV_LZMA_NEEDED} or later (tested with ${KV_LZMA_TESTED})")
endif()
# As the SDK writes it: 23.01 (the minor number has two digits).
string(LENGTH "${KV_LZMA_MINOR}" KV_LZMA_MINOR_DIGITS)
if(KV_LZMA_MINOR_DIGITS EQUAL 1)
  set(KV_LZMA_MINOR "0${KV_LZMA_MINOR}")
endif()
set(KV_LZMA_VERSION "${KV_LZMA_MAJOR}.${KV_LZMA_MINOR}")
if(KV_LZMA_VERSION VERSION_LESS KV_LZMA_NEEDED)
  message(FATAL_ERROR "The LZMA SDK in ${KV_LZMA_SDK_DIR} is ${KV_LZMA_VERSION}; this build needs "
                      "${KV_LZMA_NEEDED} or later (tested with ${KV_LZMA_TESTED}). "
                      "Remove the folder and run scripts/fetch-lzma-sdk.sh.")
endif()

set(KV_LZMA_SOURCES
  7zArcIn.c 7zDec.c 7zStream.c 7zBuf.c 7zCrc.c 7zCrcOpt.c CpuArch.c
  LzmaDec.c Lzma2Dec.c Bcj2.c Bra.c Bra86.c BraIA64.c Delta.c
  Ppmd7.c Ppmd7Dec.c 7zAlloc.c
  Threads.c Alloc.c)
list(TRANSFORM KV_LZMA_SOURCES PREPEND "${KV_LZMA_C}/")

add_library(lzma_sdk STATIC ${KV_LZMA_SOURCES})
target_include_directories(lzma_sdk SYSTEM PUBLIC "${KV_LZMA_C}")
target_compile_definitions(lzma_sdk PUBLIC Z7_PPMD_SUPPORT)
target_compile_options(lzma_sdk PRIVATE -Wall -Wextra -Werror)
set_target_properties(lzma_sdk PROPERTIES POSITION_INDEPENDENT_CODE ON)
