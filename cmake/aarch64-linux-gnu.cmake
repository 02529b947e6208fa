# Cross build for 64-bit Arm Linux with Debian's GCC cross compiler
# (g++-aarch64-linux-gnu, which brings the sysroot /usr/aarch64-linux-gnu).
# Programs and tests run under qemu-user (package qemu-user).
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
include(${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu-target.cmake)
