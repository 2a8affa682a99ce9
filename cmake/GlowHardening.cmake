# SPDX-License-Identifier: MIT
# What ships is built with the protections Debian builds its own packages
# with (dpkg-buildflags with hardening=+all gives the same flags on amd64,
# armhf and armel), plus stack-clash protection and, on x86-64, control-flow
# protection. The tests run these same binaries. The sanitizer and fuzz
# builds have their own instrumentation and leave this out.
add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
	add_compile_options(-fcf-protection)
endif()
# Fortified functions come with glibc's headers alone: musl has none, so the
# define would promise a check that is not there. It also needs the
# optimiser, which a Debug build turns off.
if(GLOW_LIBC STREQUAL "glibc")
	add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
# Read-only relocations, resolved at start-up. A static file has no
# dynamic section, so there only the read-only part applies.
add_link_options(-Wl,-z,relro -Wl,-z,now)
