# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads):
# packages g++-mingw-w64-x86-64-posix and binutils-mingw-w64-x86-64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MORVEK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MORVEK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVEK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MORVEK_MINGW_PREFIX}-windres)
set(CMAKE_AR ${MORVEK_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MORVEK_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# Libraries and headers come from the cross sysroot only; programs from the
# build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MORVEK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and modules carry the compiler's runtime (libgcc, libstdc++,
# winpthread), so they run on a bare Windows, or under Wine, without the
# toolchain's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
