# SPDX-License-Identifier: MIT
# One static glow_ctl for every 32-bit ARM Linux: ARMv5TE and later, soft
# float, linked against musl, so it needs no C library on the board at all.
# (The flags reach the link too, so the musl-gcc profile is named once.)
#   cmake -S . -B build/arm-static -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-musleabi.cmake
# Debian's armel cross compiler with Debian's musl for armel (multiarch
# musl-dev:armel), through the musl-gcc profile that musl ships (the file
# gcc's -specs= takes). The profile leaves only musl's and gcc's own
# headers: no libstdc++, so only glow_ctl, its man page and completion, and
# its system tests build here.
# A Debian without armel (testing, after Debian 13) has no musl-dev:armel:
# GLOW_MUSL_ROOT then names a folder where Debian 13's is unpacked, with its
# profile naming that folder (scripts/common.sh makes one); it is taken from
# the environment once and kept in the cache.
# Programs built here run on this machine under qemu-user (QEMU_CPU picks
# the processor).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

if(NOT DEFINED GLOW_MUSL_ROOT)
	set(GLOW_MUSL_ROOT "$ENV{GLOW_MUSL_ROOT}")
endif()
set(GLOW_MUSL_ROOT "${GLOW_MUSL_ROOT}" CACHE PATH "Folder holding musl-dev:armel unpacked (empty: the system's own)")
# try_compile's projects read this file too, without this project's cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GLOW_MUSL_ROOT)

set(GLOW_TARGET_TRIPLET arm-linux-gnueabi)
set(GLOW_MUSL_PROFILE ${GLOW_MUSL_ROOT}/usr/lib/arm-linux-musleabi/musl-gcc.specs)
set(CMAKE_C_COMPILER ${GLOW_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${GLOW_TARGET_TRIPLET}-g++)
set(CMAKE_C_FLAGS_INIT "-specs=${GLOW_MUSL_PROFILE} -march=armv5te -marm")
set(CMAKE_CXX_FLAGS_INIT "-specs=${GLOW_MUSL_PROFILE} -march=armv5te -marm")

set(CMAKE_FIND_ROOT_PATH ${GLOW_MUSL_ROOT}/usr/lib/arm-linux-musleabi ${GLOW_MUSL_ROOT}/usr/include/arm-linux-musleabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(GLOW_PROGRAM_ONLY ON CACHE BOOL "Build glow_ctl alone, for a C library without libstdc++")
set(GLOW_STATIC ON CACHE BOOL "Link glow_ctl fully statically")
set(GLOW_ARCHIVE_SYSTEM linux-arm-static)
set(GLOW_LIBC musl)

# g++ would link libstdc++, built for glibc; glow_ctl links with the C driver.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
