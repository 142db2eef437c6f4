# Toolchain file for the 32-bit big-endian PowerPC target, powerpc-linux-gnu,
# on a Debian 12 x86-64 host. scripts/target-test.sh prepares the
# environment it points at and runs the test suite under qemu-user:
#
#   cmake -S . -B build-ppc -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake \
#         -DVELKDIRECTFE_TARGET_ENV=/opt/velkdirectfe-ppc
#
# The environment holds what Debian has no powerpc build of: GoogleTest built
# for the target, a test-only stand-in libtirpc.so.3 (tests/support/target/),
# pkg-config and CMake package files for the header-only libraries, and the
# emulator's library root (sysroot/).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

if(NOT VELKDIRECTFE_TARGET_ENV)
  if(DEFINED ENV{VELKDIRECTFE_TARGET_ENV})
    set(VELKDIRECTFE_TARGET_ENV $ENV{VELKDIRECTFE_TARGET_ENV})
  else()
    set(VELKDIRECTFE_TARGET_ENV /opt/velkdirectfe-ppc)
  endif()
endif()
set(VELKDIRECTFE_TARGET_ENV ${VELKDIRECTFE_TARGET_ENV} CACHE PATH "Target environment made by scripts/target-test.sh")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELKDIRECTFE_TARGET_ENV)

set(CMAKE_FIND_ROOT_PATH ${VELKDIRECTFE_TARGET_ENV} /usr/powerpc-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config sees the target's .pc files only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} ${VELKDIRECTFE_TARGET_ENV}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Target programs run under qemu-user. ctest and gtest_discover_tests use this
# by themselves; tests that start velkd-sim or velkdirect are handed a script
# that goes through it (binfmt_misc is not there to do it for them).
find_program(VELKDIRECTFE_QEMU qemu-ppc NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELKDIRECTFE_QEMU} -L ${VELKDIRECTFE_TARGET_ENV}/sysroot)

# The environment's libtirpc is the stand-in over glibc's Sun RPC; the test
# daemon then reaches the server's poll set through glibc's accessors.
set(VELKDIRECTFE_TIRPC_STANDIN ON CACHE BOOL "The target's libtirpc is the test-only stand-in")
