# SPDX-License-Identifier: MIT
# Runs the configure-time checks of the build-time constants alone:
#   cmake -DGLOW_PORT=0 -P tests/check_constants.cmake
# Each constant not given takes its default.
foreach(pair GLOW_INTERFACE=eth1 GLOW_PORT=9000 GLOW_OWN_ADDRESS=169.254.100.1
		GLOW_CONTROLLER_ADDRESS=169.254.100.2 GLOW_REPLY_TIMEOUT_MS=1000 GLOW_BIND_WAIT_MS=1500
		GLOW_BIND_RETRY_MS=2)
	string(REPLACE "=" ";" pair "${pair}")
	list(GET pair 0 name)
	list(GET pair 1 value)
	if(NOT DEFINED ${name})
		set(${name} ${value})
	endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/GlowChecks.cmake)
glow_check_constants()
message(STATUS "constants accepted")
