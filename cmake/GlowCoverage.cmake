# SPDX-License-Identifier: MIT
# The coverage build's verdict: every test of the build needs the fixture
# coverage, whose set-up clears the counters an earlier run left and whose
# clean-up, once every such test has run, has gcovr's report fail the run
# unless every line and every branch of src/ ran, naming each one that did
# not as FILE:LINE (tests/artefacts/check_coverage.py); a run of part of
# the suite is skipped instead. A line the tests cannot reach carries
# gcovr's exclusion marker with its reason on the same line.
#   glow_coverage_tests()        once, in the top folder
#   glow_coverage_require()      at the end of each folder that adds tests

function(glow_coverage_tests)
	find_package(Python3 REQUIRED COMPONENTS Interpreter)
	find_program(GLOW_GCOVR gcovr REQUIRED)
	set(clear ${CMAKE_BINARY_DIR}/clear_coverage.cmake)
	file(WRITE ${clear} "file(GLOB_RECURSE counters ${CMAKE_BINARY_DIR}/*.gcda)\n"
		"if(counters)\n\tfile(REMOVE \${counters})\nendif()\n")
	add_test(NAME coverage.clear COMMAND ${CMAKE_COMMAND} -P ${clear})
	add_test(NAME coverage.src COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/artefacts/check_coverage.py
		${GLOW_GCOVR} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
	set_tests_properties(coverage.clear PROPERTIES FIXTURES_SETUP coverage LABELS coverage)
	set_tests_properties(coverage.src PROPERTIES FIXTURES_CLEANUP coverage LABELS coverage SKIP_RETURN_CODE 77
		WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endfunction()

# glow_coverage_require() : the tests of the calling folder so far need the
# fixture (a test's properties are set in the folder that added it).
function(glow_coverage_require)
	if(GLOW_COVERAGE)
		get_property(tests DIRECTORY PROPERTY TESTS)
		foreach(test IN LISTS tests)
			set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED coverage)
		endforeach()
	endif()
endfunction()
