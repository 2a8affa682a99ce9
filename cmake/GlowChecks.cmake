# SPDX-License-Identifier: MIT
# Rejects build-time constants that would only fail at run time.
function(glow_check_constants)
	# The numbers go into the program as C literals, where a leading 0 would
	# make 0100 octal (64) and 08 no number at all.
	set(number "^(0|[1-9][0-9]*)$")
	foreach(address GLOW_OWN_ADDRESS GLOW_CONTROLLER_ADDRESS)
		if(NOT ${address} MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
			message(FATAL_ERROR "${address}='${${address}}' is not a dotted-quad IPv4 address")
		endif()
		# The program converts the text with inet_aton, which reads a leading 0
		# as octal and fails on an octet past 255 (leaving 0.0.0.0).
		string(REPLACE "." ";" octets "${${address}}")
		foreach(octet IN LISTS octets)
			if(octet GREATER 255 OR octet MATCHES "^0[0-9]")
				message(FATAL_ERROR "${address}='${${address}}': every octet must be 0 to 255, without leading zeros")
			endif()
		endforeach()
	endforeach()
	if(NOT GLOW_PORT MATCHES "${number}" OR GLOW_PORT LESS 1 OR GLOW_PORT GREATER 65535)
		message(FATAL_ERROR "GLOW_PORT='${GLOW_PORT}' is not a port number (1 to 65535, without leading zeros)")
	endif()
	# The program keeps both bounds in an int; an hour is more than any
	# board needs, and far below where the value would wrap.
	foreach(bound GLOW_REPLY_TIMEOUT_MS GLOW_BIND_WAIT_MS)
		if(NOT ${bound} MATCHES "${number}" OR ${bound} GREATER 3600000)
			message(FATAL_ERROR "${bound}='${${bound}}' is not a whole number of ms up to 3600000, without leading zeros")
		endif()
	endforeach()
	if(NOT GLOW_BIND_RETRY_MS MATCHES "${number}" OR GLOW_BIND_RETRY_MS LESS 1 OR GLOW_BIND_RETRY_MS GREATER 1000)
		message(FATAL_ERROR "GLOW_BIND_RETRY_MS='${GLOW_BIND_RETRY_MS}' is not a whole number of ms from 1 to 1000, without leading zeros")
	endif()
	if(GLOW_OWN_ADDRESS STREQUAL GLOW_CONTROLLER_ADDRESS)
		message(FATAL_ERROR "GLOW_OWN_ADDRESS='${GLOW_OWN_ADDRESS}' is the controller's address too")
	endif()
	# What the kernel takes as an interface name: 1 to 15 characters, none of
	# them '/', ':' or white space, and neither "." nor "..".
	string(LENGTH "${GLOW_INTERFACE}" length)
	if(length EQUAL 0 OR length GREATER 15)
		message(FATAL_ERROR "GLOW_INTERFACE='${GLOW_INTERFACE}' is not an interface name (1 to 15 characters)")
	endif()
	if(GLOW_INTERFACE MATCHES "[/: \t\n\r]" OR GLOW_INTERFACE STREQUAL "." OR GLOW_INTERFACE STREQUAL "..")
		message(FATAL_ERROR "GLOW_INTERFACE='${GLOW_INTERFACE}' is not an interface name (no '/', ':' or white space; not '.' or '..')")
	endif()
endfunction()
