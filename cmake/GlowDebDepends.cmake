# SPDX-License-Identifier: MIT
# Read by cpack when it packs (CPACK_PROJECT_CONFIG_FILE): the package's
# dependency on the C library, taken from the glow_ctl it packs. The binary
# names the newest glibc symbol version it calls, and that depends on the
# glibc whose headers built it, not on the source (glibc 2.38's headers send
# strtol to __isoc23_strtol): Debian 12 gives 2.34, Debian 13 2.38.
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR CPACK_GLOW_STATIC)
	return()
endif()
execute_process(COMMAND ${CPACK_GLOW_READELF} --version-info --wide ${CPACK_GLOW_PROGRAM}
	OUTPUT_VARIABLE versions COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "Name: GLIBC_[0-9.]+" names "${versions}")
set(newest 0)
foreach(name IN LISTS names)
	string(REPLACE "Name: GLIBC_" "" version ${name})
	if(version VERSION_GREATER newest)
		set(newest ${version})
	endif()
endforeach()
if(newest VERSION_EQUAL 0)
	message(FATAL_ERROR "${CPACK_GLOW_PROGRAM} names no glibc symbol version")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest})")
