# SPDX-License-Identifier: MIT
# The device package, glow-ctl: glow_ctl, its man page and bash completion.
# glow_emu and no_socket are development tools and are never installed.
#   cpack -G DEB    (in a build folder; the cross build gives the armhf package)
# A program-only build (the static musl one) packs the same three files in a
# tarball instead, glow_ctl-<version>-<GLOW_ARCHIVE_SYSTEM>.tar.gz:
#   cpack -G TGZ
if(GLOW_PROGRAM_ONLY)
	if(NOT GLOW_ARCHIVE_SYSTEM)
		set(GLOW_ARCHIVE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR}-static)
	endif()
	set(CPACK_GENERATOR TGZ)
	set(CPACK_PACKAGE_NAME glow_ctl)
	set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
	set(CPACK_PACKAGE_FILE_NAME glow_ctl-${PROJECT_VERSION}-${GLOW_ARCHIVE_SYSTEM})
	set(CPACK_COMPONENTS_ALL device)
	set(CPACK_STRIP_FILES ON)
	include(CPack)
	return()
endif()
if(NOT GLOW_DEB_ARCHITECTURE)
	execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE GLOW_DEB_ARCHITECTURE
		OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glow-ctl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL device)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGE_CONTACT "${GLOW_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_NAME glow-ctl)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${GLOW_DEB_ARCHITECTURE})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the colour channels of one LED through the LED controller")
# Lines of at most 80 columns, as Debian's control files want them.
set(CPACK_PACKAGE_DESCRIPTION "glow_ctl sets the red, green and blue channels of one of the device's
three RGB LEDs to off, on or one of four blink patterns (slow, norm, fast,
ultra). One run sends a sync datagram to the LED controller over UDP, takes
the sequence from its reply, sends the write datagram and exits. The wait for
the reply is bounded, so a run never hangs.")
# A build for another board says which wiring it serves.
foreach(constant IN LISTS GLOW_CONSTANTS)
	if(NOT "${${constant}}" STREQUAL "${GLOW_DEFAULT_${constant}}")
		string(APPEND CPACK_PACKAGE_DESCRIPTION "\n\nBuilt for a board other than the default one: interface "
			"${GLOW_INTERFACE},\nown address ${GLOW_OWN_ADDRESS}, controller ${GLOW_CONTROLLER_ADDRESS}, "
			"UDP port ${GLOW_PORT},\nreply wait ${GLOW_REPLY_TIMEOUT_MS} ms, own port wait ${GLOW_BIND_WAIT_MS} ms "
			"(tries every ${GLOW_BIND_RETRY_MS} ms).")
		break()
	endif()
endforeach()
set(CPACK_STRIP_FILES ON)
# The dependency on the C library is read from the binary when it is packed.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/GlowDebDepends.cmake)
set(CPACK_GLOW_PROGRAM ${PROJECT_BINARY_DIR}/src/glow_ctl)
set(CPACK_GLOW_READELF ${CMAKE_READELF})
set(CPACK_GLOW_STATIC ${GLOW_STATIC})
include(CPack)
