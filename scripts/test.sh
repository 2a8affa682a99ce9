#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The test command: installs what each stage needs, runs it, adds up.
#
#   sudo scripts/test.sh              every stage, as CI runs it
#   sudo scripts/test.sh STAGE...     those stages alone, e.g. "host" after a small change
#   scripts/test.sh --list            the stages and what each checks
#   scripts/test.sh --help            this text
#
# A stage is a CMake workflow preset (CMakePresets.json) whose CTest tests
# hold the verdict, or one of the two below that build from elsewhere; the
# counts come from CTest's JUnit files, and the script checks nothing itself.
# The system tests need root (network namespaces): without it they count as
# skipped. A failed configure or build ends the run, counted as a failure.
# The last line adds up: "N passed, N failed, N skipped".
#
# Reads: CI (true: a skipped test fails the run), GLOW_JOBS (parallel jobs, a
# whole number from 1 to 64, 2), GLOW_BUILD (the firmware build's folder,
# build/), XDG_CACHE_HOME or HOME (downloads kept between runs),
# GLOW_MUSL_ROOT (musl for armel unpacked, where the suite has no armel).
set -euo pipefail
. "$(dirname "$0")/common.sh"

# The stages that build from elsewhere, in the order a full run takes them
# after the workflow presets: name, then what it checks.
script_stages=(
	"firmware    the recipes offer every constant in range and hand each value to CMake as typed; a board build from their options, the source tarball, Ninja and a firmware's flags (its tests: the flags alone, the exchange and the dissector on its port)"
	"debian13    a fresh clone in a minimal Debian 13 (mmdebstrap minbase, base system cached): the host, armhf and lint stages there, everything installed by the test command, once the runner's own test passed"
)

jobs=${GLOW_JOBS:-2}
whole_number GLOW_JOBS "$jobs" 1 64
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs CTEST_PARALLEL_LEVEL=$jobs
junit=$GLOW_ROOT/build/junit
passed=0 failed=0 skipped=0 started=$SECONDS stage='' closed=''

# all_stages : the one stage list, "NAME DESCRIPTION" a line: the workflow
# presets that end in tests (the others make the release's and the demo's
# files), then the script stages.
all_stages() {
	python3 -c 'import json, sys
for preset in json.load(open(sys.argv[1]))["workflowPresets"]:
    if any(step["type"] == "test" for step in preset["steps"]):
        print(preset["name"], preset["description"])' "$GLOW_ROOT/CMakePresets.json"
	printf '%s\n' "${script_stages[@]}" | sed -E 's/^([^ ]+) +/\1 /'
}

summary() {
	say "stages done in $((SECONDS - started)) s: ${selected[*]}"
	[ "$skipped" -eq 0 ] || [ "$(id -u)" -eq 0 ] || echo "$skipped skipped: they need root (network namespaces)"
	echo "$passed passed, $failed failed, $skipped skipped"
	closed=1
}

# ended_early : a run that ends before its closing line (an install that
# failed, a signal) still closes with its counts, the end counted as a failure.
ended_early() {
	[ -n "$closed" ] && return
	echo "FAILED: the run ended early${stage:+, in stage $stage}"
	failed=$((failed + 1))
	summary
}

# stage_failed MESSAGE : the stage cannot go on: counted as a failure, and
# the run ends here.
stage_failed() {
	echo "FAILED: ${stage:+stage $stage: }$*"
	failed=$((failed + 1))
	summary
	exit 1
}

# counted WHAT COMMAND... : runs a CTest command (the JUnit files of the
# stage before removed first, nothing else there), then adds up the JUnit
# files it wrote into build/junit. The stage fails when WHAT wrote none; a
# failure no test shows (a build, or a test step that ran nothing) counts
# too. The build's progress lines are left out.
counted() {
	local what=$1 status=0 p s
	shift
	rm -f -- "$junit"/*.xml
	"$@" 2>&1 | { grep -vE '^\[ *[0-9]+%\]|^\[[0-9]+/[0-9]+\] ' || true; } || status=$?
	compgen -G "$junit/*.xml" >/dev/null || stage_failed "$what ended before its tests"
	read -r p junit_failed s < <(python3 "$GLOW_ROOT/tools/junit_counts.py" "$junit"/*.xml)
	echo "CTest: $p passed, $junit_failed failed, $s skipped"
	passed=$((passed + p)) failed=$((failed + junit_failed)) skipped=$((skipped + s))
	[ "$status" -eq 0 ] || [ "$junit_failed" -gt 0 ] || failed=$((failed + 1))
}

# stage_packages STAGE : what the stage uses beyond the host's (scripts add theirs).
stage_packages() {
	case $1 in
	armhf | armhf-static) apt_install g++-arm-linux-gnueabihf qemu-user binutils ;;
	arm-static) arm_static_packages && apt_install qemu-user ;;
	# clang, and the sanitizer and fuzzer runtime of its version.
	sanitize | fuzz) apt_install clang && apt_install "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev" ;;
	coverage) apt_install gcovr ;;
	lint) apt_install clang-format clang-tidy man-db lua-check shellcheck ;;
	release)
		release_packages check
		apt_install python3-jsonschema ca-certificates qemu-system-arm
		# A machine with another Node.js package (one that ships npm itself)
		# has npm already; Debian's own comes with its npm package.
		command -v npm >/dev/null || apt_install npm
		;;
	firmware) apt_install python3-kconfiglib ninja-build g++-arm-linux-gnueabihf qemu-user binutils ;;
	esac
}

# The recipes' options for another board, built as the recipes build it:
# from the source tarball, outside any checkout, by the firmware preset. Its
# tests (put back) check the flags and the recipes, and run the exchange,
# command-line and dissector cases against that board's wiring.
stage_firmware() {
	local dir=$GLOW_BUILD/armhf-board board options work source
	mapfile -t board < <(grep '^GLOW_' "$GLOW_ROOT/tests/board_wiring.txt")
	# Debian's python3, where Debian's python3-kconfiglib is; the script
	# says itself why it cannot make the list.
	options=$(/usr/bin/python3 "$GLOW_ROOT/scripts/check_recipes.py" --board "${board[@]}") ||
		stage_failed "the recipes' options for the board could not be made"
	mapfile -t options <<<"$options"
	echo "the recipes pass: ${options[*]}"
	work=$(mktemp -d)
	source=$(unpacked_tarball "$work")
	clear_build "$dir"
	{ cmake -S "$source" --preset firmware -B "$dir" "${options[@]}" -DGLOW_TESTS=ON && cmake --build "$dir"; } \
		>/dev/null || stage_failed "configuring or building $dir failed"
	counted "the firmware build" ctest --test-dir "$dir" --output-on-failure --output-junit "$junit/firmware.xml" \
		-R '^(firmware\.|system\.(exchange|command_line|dissector)$)'
	rm -rf "$work"
}

# What Debian 13 changes (g++ 14, binutils 2.44, glibc 2.41, clang 19,
# tshark 4.4) meets these; the other stages pass there too, run by hand.
debian13_stages=(host armhf lint)

# The test command in a minimal Debian 13, its counts added to this run's,
# once the runner's own test (label debian) showed it keeps the system
# apart and cleans up.
stage_debian13() {
	local log status=0 inner_passed inner_failed inner_skipped
	cmake --preset host >/dev/null || stage_failed "configuring the host build failed"
	counted "the runner's test" ctest --preset debian
	log=$(mktemp)
	"$GLOW_ROOT/scripts/debian.sh" trixie scripts/test.sh "${debian13_stages[@]}" 2>&1 | tee "$log" || status=$?
	read -r inner_passed _ inner_failed _ inner_skipped _ < <(grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' \
		"$log" | tail -n 1) || stage_failed "the test command in Debian 13 closed with no counts"
	rm -f "$log"
	passed=$((passed + inner_passed)) failed=$((failed + inner_failed)) skipped=$((skipped + inner_skipped))
	# A failure the counts do not show (its exit status alone).
	[ "$status" -eq 0 ] || [ "$inner_failed" -gt 0 ] || failed=$((failed + 1))
}

# run_stage NAME : a script stage's function, or the workflow preset.
run_stage() {
	if declare -F "stage_${1//-/_}" >/dev/null; then
		"stage_${1//-/_}"
	else
		counted "the workflow $1" cmake --workflow --preset "$1"
	fi
}

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then sed -n '3,19s/^# \{0,1\}//p' "$0"; exit 0; fi
# Reading the presets takes python3, which a minimal system lacks.
command -v python3 >/dev/null || host_packages
mapfile -t stage_lines < <(all_stages)
stage_names=("${stage_lines[@]%% *}")

if [ "${1:-}" = "--list" ]; then
	for line in "${stage_lines[@]}"; do printf '%-13s %s\n' "${line%% *}" "${line#* }"; done
	exit 0
fi
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=("${stage_names[@]}")
for name in "${selected[@]}"; do
	[[ $name != -* ]] || die "unknown option '$name'; scripts/test.sh --help lists them"
	[[ " ${stage_names[*]} " == *" $name "* ]] || die "no stage '$name'; scripts/test.sh --list shows them"
done
# Inside the minimal Debian that scripts/debian.sh makes, a full run leaves
# out the stage that makes one.
if [ -n "${GLOW_DEBIAN_SUITE:-}" ]; then
	[ $# -eq 0 ] || [[ " $* " != *" debian13 "* ]] || die "already in a minimal Debian $GLOW_DEBIAN_SUITE"
	mapfile -t selected < <(printf '%s\n' "${selected[@]}" | grep -vx debian13)
fi

on_exit ended_early
# A refusal is an early end too: it closes with the counts.
owner=$(stat -c %U "$GLOW_ROOT/build" 2>/dev/null || id -un)
[ "$owner" = "$(id -un)" ] || stage_failed "build/ belongs to $owner, from a run as $owner: run as $owner, or move it away"
host_packages
apt_install tmux valgrind lintian tshark tcpdump
for stage in "${selected[@]}"; do
	say "$stage: $(all_stages | sed -n "s/^$stage //p")"
	stage_started=$SECONDS
	stage_packages "$stage"
	run_stage "$stage"
	echo "($stage took $((SECONDS - stage_started)) s)"
done

summary
# CI has everything a test needs: there, a skipped test is a failure too.
[ "$failed" -eq 0 ] && { [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ]; }
