# SPDX-License-Identifier: MIT
# A build for another board says so: configures one in BUILD (-DBUILD=...)
# and checks that its package description and man page name its wiring,
# while this project's default build (-DDEFAULT_BUILD=...) names none.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/board_wiring.txt settings REGEX "^GLOW_")
list(TRANSFORM settings PREPEND -D)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/.. -B ${BUILD} -DGLOW_TESTS=OFF ${settings}
	OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
set(wiring "Built for a board other than the default one: interface eth0,\nown address 169.254.7.1, controller 169.254.7.2, UDP port 9100,")
file(READ ${BUILD}/CPackConfig.cmake board)
file(READ ${DEFAULT_BUILD}/CPackConfig.cmake default)
string(FIND "${board}" "${wiring}" in_board)
string(FIND "${default}" "Built for a board" in_default)
file(READ ${BUILD}/docs/glow_ctl.1 page)
# Each value that differs is marked with the default; one that does not is not.
string(FIND "${page}" ".BR GLOW_INTERFACE \" (eth0; the default is eth1)\"" page_names_it)
string(FIND "${page}" ".BR GLOW_REPLY_TIMEOUT_MS \" (1000)\"" page_leaves_default)
if(page_leaves_default EQUAL -1)
	set(page_names_it -1)
endif()
file(REMOVE_RECURSE ${BUILD})
if(in_board EQUAL -1 OR NOT in_default EQUAL -1 OR page_names_it EQUAL -1)
	message(FATAL_ERROR "board wiring in the description: ${in_board}, in the default's: ${in_default}; "
		"in the man page: ${page_names_it}")
endif()
message(STATUS "the board build names its wiring")
