# SPDX-License-Identifier: MIT
# The package's documents, made from the repository's own: the copyright file
# (machine-readable, from LICENSE) and the Debian changelog (from
# CHANGELOG.md), so that each text has one source.

# glow_write_copyright(OUT) : LICENSE as a machine-readable copyright file.
function(glow_write_copyright out)
	file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
	# The permission text is what follows the title and the copyright line.
	string(REGEX REPLACE "^[^\n]*\n\n[^\n]*\n\n" "" permission "${license}")
	string(STRIP "${permission}" permission)
	string(REGEX REPLACE "\n\n" "\n.\n" permission "${permission}")
	string(REGEX REPLACE "\n" "\n " permission "${permission}")
	file(WRITE ${out}
		"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
		"Upstream-Name: glow_ctl\n"
		"Upstream-Contact: ${GLOW_MAINTAINER}\n\n"
		"Files: *\n"
		"Copyright: 2026 the glow_ctl authors\n"
		"License: Expat\n\n"
		"License: Expat\n"
		" ${permission}\n")
endfunction()

# glow_write_changelog(OUT) : CHANGELOG.md in Debian's changelog form. Its
# newest entry must be the project's version.
function(glow_write_changelog out)
	file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md text)
	# One list item per line; a ; in the text would split a CMake list.
	string(REPLACE ";" "<semicolon>" text "${text}")
	string(REPLACE "\n" ";" lines "${text}")
	set(debian "")
	set(trailer "")
	set(newest "")
	foreach(line IN LISTS lines)
		string(REPLACE "<semicolon>" ";" line "${line}")
		if(line MATCHES "^## ([^ ]+) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
			set(version ${CMAKE_MATCH_1})
			execute_process(COMMAND date -u -R -d ${CMAKE_MATCH_2} OUTPUT_VARIABLE when
				OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
			string(APPEND debian "${trailer}glow-ctl (${version}) unstable; urgency=medium\n\n")
			set(trailer "\n -- ${GLOW_MAINTAINER}  ${when}\n\n")
			if(NOT newest)
				set(newest ${version})
			endif()
		elseif(line MATCHES "^- (.*)$" AND trailer)
			string(APPEND debian "  * ${CMAKE_MATCH_1}\n")
		elseif(line MATCHES "^  +(.*)$" AND trailer)
			string(APPEND debian "    ${CMAKE_MATCH_1}\n")
		endif()
	endforeach()
	if(NOT newest STREQUAL PROJECT_VERSION)
		message(FATAL_ERROR "CHANGELOG.md's newest entry is '${newest}', the project's version ${PROJECT_VERSION}")
	endif()
	file(WRITE ${out} "${debian}${trailer}")
endfunction()
