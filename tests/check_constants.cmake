# SPDX-License-Identifier: MIT
# Runs the configure-time checks of the build-time constants alone:
#   cmake -DGLOW_PORT=0 -P tests/check_constants.cmake
# Each constant not given takes its default.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/GlowConstants.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/GlowChecks.cmake)
glow_check_constants()
message(STATUS "constants accepted")
