# The LZMA SDK's C decoder, compiled from the sources that
# scripts/fetch-lzma-sdk.sh unpacked into third_party/lzma-sdk/C, with the
# thread wrappers (Threads.c).
set(KV_LZMA_C "${KV_LZMA_SDK_DIR}/C")
if(NOT EXISTS "${KV_LZMA_C}/7zDec.c")
  message(FATAL_ERROR "LZMA SDK sources not found in ${KV_LZMA_C}; run scripts/fetch-lzma-sdk.sh")
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
