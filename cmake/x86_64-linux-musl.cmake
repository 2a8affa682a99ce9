# SPDX-License-Identifier: MIT
# The static musl build of glow_ctl for this x86-64 machine: the same sources
# and link as the static ARM build, where callgrind can count a whole run.
#   cmake -S . -B build/host-musl -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-linux-musl.cmake
# Needs Debian's musl-tools, whose musl-gcc profile (the file gcc's -specs=
# takes) leaves only musl's and gcc's own headers (so only glow_ctl and the
# benchmark's no-op build here, as in the ARM one).
set(GLOW_MUSL_PROFILE /usr/lib/x86_64-linux-musl/musl-gcc.specs)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# The flags reach the link too, so the musl-gcc profile is named once.
set(CMAKE_C_FLAGS_INIT "-specs=${GLOW_MUSL_PROFILE}")
set(CMAKE_CXX_FLAGS_INIT "-specs=${GLOW_MUSL_PROFILE}")
# g++ would link libstdc++, built for glibc; glow_ctl links with the C driver.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(GLOW_PROGRAM_ONLY ON CACHE BOOL "Build glow_ctl alone, for a C library without libstdc++")
set(GLOW_STATIC ON CACHE BOOL "Link glow_ctl fully statically")
set(GLOW_ARCHIVE_SYSTEM linux-x86_64-static)
set(GLOW_LIBC musl)
