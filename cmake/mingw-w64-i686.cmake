# Cross-building the Windows launchers with MinGW-w64 (Debian package
# mingw-w64): 32-bit x86, fully static, so that setup.exe and setupc.exe
# need no MinGW DLL at run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KV_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KV_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
