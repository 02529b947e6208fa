# Cross build for 64-bit Arm Linux with clang, over the sysroot, C++ library
# and linker of Debian's GCC cross compiler (g++-aarch64-linux-gnu).
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu-target.cmake)
