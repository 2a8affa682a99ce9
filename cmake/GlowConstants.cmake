# SPDX-License-Identifier: MIT
# The build-time constants, the wiring of the board: one -D each for a board
# that differs. link_config.h.in hands them to the program; configuring checks
# them (GlowChecks.cmake), and tests/check_constants.cmake starts from these
# defaults too.
set(GLOW_INTERFACE "eth1" CACHE STRING "Network interface behind which the LED controller lies")
set(GLOW_PORT 9000 CACHE STRING "UDP port at both ends of the link")
set(GLOW_OWN_ADDRESS "169.254.100.1" CACHE STRING "This device's IPv4 address")
set(GLOW_CONTROLLER_ADDRESS "169.254.100.2" CACHE STRING "The LED controller's IPv4 address")
set(GLOW_REPLY_TIMEOUT_MS 1000 CACHE STRING "Longest wait for the controller's reply, in ms (0: no limit)")
# Overlapping runs take turns at the own port. The default outlasts one other
# run whose controller stays silent (the reply wait) with a margin for its
# start, sends and exit, also under emulation.
set(GLOW_BIND_WAIT_MS 1500 CACHE STRING "Longest wait for the own port while another run holds it, in ms (0: no wait)")
set(GLOW_BIND_RETRY_MS 2 CACHE STRING "Pause between tries for a held own port, in ms")
