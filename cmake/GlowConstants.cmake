# SPDX-License-Identifier: MIT
# The build-time constants, the wiring of the board: one -D each for a board
# that differs. link_config.h.in hands them to the program and the man page
# describes them; configuring checks them (GlowChecks.cmake);
# tests/check_constants.cmake starts from these defaults too, and the
# firmware recipes under contrib/ offer each one (a check reads this file).

# glow_constant(NAME DEFAULT DOC) : the cache variable NAME; its default
# stays in GLOW_DEFAULT_<NAME>, and GLOW_CONSTANTS lists the names.
macro(glow_constant name default doc)
	set(${name} "${default}" CACHE STRING "${doc}")
	set(GLOW_DEFAULT_${name} "${default}")
	list(APPEND GLOW_CONSTANTS ${name})
endmacro()

glow_constant(GLOW_INTERFACE "eth1" "Network interface behind which the LED controller lies")
glow_constant(GLOW_PORT 9000 "UDP port at both ends of the link")
glow_constant(GLOW_OWN_ADDRESS "169.254.100.1" "This device's IPv4 address")
glow_constant(GLOW_CONTROLLER_ADDRESS "169.254.100.2" "The LED controller's IPv4 address")
glow_constant(GLOW_REPLY_TIMEOUT_MS 1000 "Longest wait for the controller's reply, in ms (0: no limit)")
# Overlapping runs take turns at the own port. The default outlasts one other
# run whose controller stays silent (the reply wait) with a margin for its
# start, sends and exit, also under emulation.
glow_constant(GLOW_BIND_WAIT_MS 1500 "Longest wait for the own port while another run holds it, in ms (0: no wait)")
glow_constant(GLOW_BIND_RETRY_MS 2 "Pause between tries for a held own port, in ms")
