# aarch64-linux-gnu.cmake - a toolchain file: the library, lparse and the tests
# for 64-bit Arm Linux, built with Debian's cross compiler
# (g++-aarch64-linux-gnu) and run under qemu-user (qemu-aarch64). Libraries
# and headers come from the cross compiler's own tree only, so nothing of the
# build machine's is linked; GoogleTest is then built from its source
# (Debian's googletest, LIB_PARSE_GTEST_SOURCE=/usr/src/googletest).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(lib_parse_aarch64_root /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${lib_parse_aarch64_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# ctest runs every test program through the emulator, which finds the
# target's C library under the cross tree.
find_program(LIB_PARSE_QEMU_AARCH64 qemu-aarch64)
if(LIB_PARSE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LIB_PARSE_QEMU_AARCH64} -L ${lib_parse_aarch64_root})
endif()
