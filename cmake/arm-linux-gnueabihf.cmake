# SPDX-License-Identifier: MIT
# Cross build for the device: 32-bit ARM, hard float, Debian's cross compiler.
#   cmake -S . -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# Programs built here run on this machine under qemu-user, so CTest runs the
# armhf unit tests and the armhf glow_ctl as they are.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(GLOW_TARGET_TRIPLET arm-linux-gnueabihf)
set(GLOW_DEB_ARCHITECTURE armhf)
set(CMAKE_C_COMPILER ${GLOW_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${GLOW_TARGET_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${GLOW_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: where qemu finds the target's dynamic loader and C library.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${GLOW_TARGET_TRIPLET})
