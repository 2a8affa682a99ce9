#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The test command: installs what each stage needs, runs it, adds up.
#
#   sudo scripts/test.sh              every stage, as CI runs it
#   sudo scripts/test.sh STAGE...     those stages alone, e.g. "host" after a small change
#   scripts/test.sh --list            the stages and what each checks
#   scripts/test.sh --help            this text
#
# A build variant's stage is its CMake workflow preset (CMakePresets.json),
# whose CTest tests hold the verdict; the counts come from CTest's JUnit
# files. The other stages are no CMake build and run from here. The system
# tests need root (network namespaces): without it they count as skipped.
# A failed configure or build ends the run, counted as a failure. The last
# line adds up: "N passed, N failed, N skipped".
#
# Reads: CI (true: a skipped test fails the run), GLOW_JOBS (parallel jobs,
# a whole number from 1 to 64, 2), GLOW_BUILD (the script stages' folder, build/), XDG_CACHE_HOME or HOME
# (downloads kept between runs, in glow_ctl/ there).
set -euo pipefail
. "$(dirname "$0")/common.sh"

# The stages that are not CMake builds, in the order a full run takes them
# after the workflow presets: name, then what it checks.
script_stages=(
	"release     scripts/release.sh --check: reprotest builds it twice, varying environment, path, time, locale, umask and more, with the same artefacts; its CycloneDX bills of materials valid"
	"bench       a short run of bench/run.sh, so that the benchmark keeps working"
	"firmware    the Buildroot, Yocto and OpenWrt recipes offer every constant in range and hand each value to CMake as typed; a board build from their options, the source tarball, Ninja and a firmware's flags passes the exchange and the dissector's test on its port"
	"arm-vm      the release's armhf package and static file on the kernels boards run, booted under qemu: Debian's armhf kernel (Cortex-A15, Cortex-A7), Debian 11's 5.10 LTS, arm64 with 4 KiB pages (Cortex-A53) and Debian 13's arm64 with 16 KiB pages, each with a 32-bit userland"
	"debian13    a fresh clone in a minimal Debian 13 (mmdebstrap minbase, base system cached): the host, armhf and lint stages there, everything installed by the test command"
)

jobs=${GLOW_JOBS:-2}
whole_number GLOW_JOBS "$jobs" 1 64
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs CTEST_PARALLEL_LEVEL=$jobs
junit=$GLOW_ROOT/build/junit
passed=0
failed=0
skipped=0
started=$SECONDS
stage=
closed=

# workflow_stages : the workflow presets, "NAME DESCRIPTION" a line.
workflow_stages() {
	python3 -c 'import json, sys
for preset in json.load(open(sys.argv[1]))["workflowPresets"]:
    print(preset["name"], preset["description"])' "$GLOW_ROOT/CMakePresets.json"
}

# all_stages : the one stage list, "NAME DESCRIPTION" a line.
all_stages() {
	workflow_stages
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

# check NAME COMMAND... : one pass/fail check of a script stage.
check() {
	local name=$1
	shift
	if "$@"; then
		echo "ok: $name"
		passed=$((passed + 1))
	else
		echo "FAILED: $name"
		failed=$((failed + 1))
	fi
}

# add_junit WHAT : adds up the JUnit files CTest wrote into build/junit: a
# test is passed, failed, or skipped (CTest's notrun: exit 77, or a
# disabled test). The stage fails when WHAT wrote none.
add_junit() {
	compgen -G "$junit/*.xml" >/dev/null || stage_failed "$1 ended before its tests"
	local counts p s
	counts=$(python3 -c 'import sys, xml.etree.ElementTree as tree
counts = {"run": 0, "fail": 0, "notrun": 0, "disabled": 0}
for path in sys.argv[1:]:
    for case in tree.parse(path).iter("testcase"):
        counts[case.get("status")] += 1
print(counts["run"], counts["fail"], counts["notrun"] + counts["disabled"])' "$junit"/*.xml)
	read -r p junit_failed s <<<"$counts"
	echo "CTest: $p passed, $junit_failed failed, $s skipped"
	passed=$((passed + p))
	failed=$((failed + junit_failed))
	skipped=$((skipped + s))
}

# clear_junit : the JUnit files of the stage before, and nothing else there.
clear_junit() {
	rm -f -- "$junit"/*.xml
}

# run_workflow PRESET : the preset's configure, build and tests. The
# build's progress lines are left out. A configure or build that fails
# writes no JUnit file: the stage fails there.
run_workflow() {
	local status=0
	clear_junit
	cmake --workflow --preset "$1" 2>&1 | { grep -vE '^\[ *[0-9]+%\]|^\[[0-9]+/[0-9]+\] ' || true; } ||
		status=$?
	add_junit "the workflow $1"
	# A failure no test shows (a test step that ran nothing).
	[ "$status" -eq 0 ] || [ "$junit_failed" -gt 0 ] || failed=$((failed + 1))
}

# clang_packages : clang and the sanitizer and fuzzer runtime of its
# version (libclang-rt-14-dev for clang 14).
clang_packages() {
	apt_install clang
	local major
	major=$(clang -dumpversion | cut -d. -f1)
	[ -n "$major" ] || die "cannot tell the version of clang"
	apt_install "libclang-rt-$major-dev"
}

# stage_packages STAGE : installs what the stage uses beyond the host's.
stage_packages() {
	case $1 in
	armhf | armhf-static) apt_install g++-arm-linux-gnueabihf qemu-user binutils ;;
	arm-static) arm_static_packages && apt_install qemu-user ;;
	sanitize | fuzz) clang_packages ;;
	coverage) apt_install gcovr ;;
	lint) apt_install clang-format clang-tidy man-db lua-check shellcheck ;;
	release)
		apt_install python3-jsonschema ca-certificates
		# A machine with another Node.js package (one that ships npm itself)
		# has npm already; Debian's own comes with its npm package.
		command -v npm >/dev/null || apt_install npm
		;;
	firmware) apt_install python3-kconfiglib ninja-build g++-arm-linux-gnueabihf qemu-user binutils ;;
	arm-vm) apt_install qemu-system-arm ;;
	esac
}

# The release is built twice by reprotest; the arm-vm stage boots what it made.
release_dist=

stage_release() {
	# release.sh replaces an earlier release there and refuses anything else.
	local dist=$GLOW_BUILD/release
	check "release reproducible under reprotest" bash -c '"$1" --check --dist "$2" | tail -n 12' _ \
		"$GLOW_ROOT/scripts/release.sh" "$dist"
	[ -f "$dist/SHA256SUMS" ] && release_dist=$dist
	check "release bills of materials" /usr/bin/python3 "$GLOW_ROOT/scripts/sbom.py" check "$GLOW_CACHE" \
		"$dist"/*.cdx.json
	check "bills of materials checker refuses what is not valid" /usr/bin/python3 \
		"$GLOW_ROOT/tests/release/test_sbom_check.py" "$GLOW_CACHE" "$dist"/glow-ctl_*_armhf.deb.cdx.json
}

stage_bench() {
	if [ "$(id -u)" -eq 0 ]; then
		check "benchmark script runs" "$GLOW_ROOT/bench/run.sh" --runs 5
	else
		echo "SKIPPED: the benchmark needs root"
		skipped=$((skipped + 1))
	fi
}

# host_build : the host variant configured and built, for what the script
# stages take from it (glow_emu, the man page, the constants).
host_build() {
	[ -x "$GLOW_BUILD/host/tools/glow_emu" ] && return
	{ cmake --preset host && cmake --build --preset host; } >/dev/null || stage_failed "building the host variant failed"
}

mapfile -t firmware_board < <(grep '^GLOW_' "$GLOW_ROOT/tests/board_wiring.txt")
# A firmware's own flags, passed as Yocto passes them (no build type): its
# fortification level differs from the project's own.
firmware_flags="-O2 -pipe -D_FORTIFY_SOURCE=1"

# firmware_flags_alone BUILD : the firmware's flags, none of the project's own.
firmware_flags_alone() {
	local own
	own=$(grep -ohE -- '-fstack-protector[a-z-]*|-fstack-clash-protection|-fcf-protection|-D_FORTIFY_SOURCE=2|-ffile-prefix-map|-Os|-Wl,-z,(relro|now)' \
		"$1/compile_commands.json" "$1/build.ninja" | sort -u | tr '\n' ' ')
	echo "the project's own flags in the firmware build: ${own:-none}"
	[ -z "$own" ] && grep -q -- "-D_FORTIFY_SOURCE=1" "$1/compile_commands.json"
}

# The recipes' options for that board reach the armhf binary, built as the
# recipes build it: from the source tarball, outside any git checkout, with
# Ninja and the firmware's flags (-Werror: no warning). With its tests put
# back, it passes the exchange, command-line and dissector cases against
# that board's addresses, port and interface.
stage_firmware() {
	local dir=$GLOW_BUILD/armhf-board options work tree tarball source
	# Debian's python3, where Debian's python3-kconfiglib is.
	check "firmware recipes offer every constant, in range" /usr/bin/python3 "$GLOW_ROOT/scripts/check_recipes.py"
	# The check says itself why it cannot make the list.
	options=$(/usr/bin/python3 "$GLOW_ROOT/scripts/check_recipes.py" --board "${firmware_board[@]}") ||
		stage_failed "the recipes' options for the board could not be made"
	mapfile -t options <<<"$options"
	echo "the recipes pass: ${options[*]}"
	# The tracked files as they are now, edits included (the commit when
	# there are none).
	tree=$(git -C "$GLOW_ROOT" stash create)
	work=$(mktemp -d)
	tarball=$(source_tarball "${tree:-HEAD}" "$work")
	tar -xzf "$tarball" -C "$work"
	source=$work/glow-ctl-$(commit_version "${tree:-HEAD}")
	echo "built from $(basename "$tarball") of ${tree:-HEAD}, unpacked outside the checkout"
	clear_build "$dir"
	clear_junit
	CFLAGS=$firmware_flags CXXFLAGS=$firmware_flags cmake -S "$source" -B "$dir" -G Ninja -DGLOW_WERROR=ON \
		-DCMAKE_TOOLCHAIN_FILE="$GLOW_ROOT/cmake/arm-linux-gnueabihf.cmake" "${options[@]}" -DGLOW_TESTS=ON \
		>/dev/null || stage_failed "configuring $dir failed"
	cmake --build "$dir" >/dev/null || stage_failed "the build in $dir failed"
	check "firmware build takes the firmware's flags alone" firmware_flags_alone "$dir"
	(cd "$dir" && ctest --output-on-failure --output-junit "$junit/firmware.xml" \
		-R 'system\.(exchange|command_line|dissector)') || true
	add_junit "the firmware build"
	rm -rf "$work"
}

# The booted guest runs what a release of the last commit ships: the
# packages' and the tarball's exact bytes, the release stage's when it ran.
stage_arm_vm() {
	host_build
	local dist=$release_dist host=$GLOW_BUILD/host version
	if [ -z "$dist" ]; then
		dist=$GLOW_BUILD/arm-vm/dist
		"$GLOW_ROOT/scripts/release.sh" --dist "$dist" >/dev/null ||
			stage_failed "the release build for the ARM guest failed"
	fi
	version=$(cache_value "$host" CMAKE_PROJECT_VERSION)
	# The release is built with the default constants, as the host build is.
	local constants=() name
	for name in GLOW_INTERFACE GLOW_PORT GLOW_OWN_ADDRESS GLOW_CONTROLLER_ADDRESS GLOW_REPLY_TIMEOUT_MS \
		GLOW_BIND_WAIT_MS; do
		constants+=("$name=$(cache_value "$host" "$name")")
	done
	local boots boot
	mapfile -t boots < <(python3 "$GLOW_ROOT/tools/arm_vm.py" kernels)
	for boot in "${boots[@]}"; do
		check "booted ${boot% *} kernel, ${boot#* }" env "${constants[@]}" GLOW_ARM_VM_KERNEL="${boot% *}" \
			GLOW_ARM_VM_CPU="${boot#* }" GLOW_ARM_VM_CACHE="$GLOW_CACHE/arm-vm" \
			GLOW_ARM_VM_DEB="$dist/glow-ctl_${version}_armhf.deb" \
			GLOW_ARM_VM_TARBALL="$dist/glow_ctl-$version-linux-arm-static.tar.gz" \
			GLOW_EMU="$host/tools/glow_emu" GLOW_VERSION="$version" GLOW_MAN_PAGE="$host/docs/glow_ctl.1" \
			PYTHONDONTWRITEBYTECODE=1 python3 "$GLOW_ROOT/tests/system/test_booted.py"
	done
	check "demo --arm-vm" demo_on_arm_vm
}

# The demo boots the same guest and shows the controller's state after the
# guest's run, on lines that fit 80 columns; it exits with the guest's
# glow_ctl status, whose lines come in the order glow_ctl wrote them.
demo_on_arm_vm() {
	local out long status=0
	out=$("$GLOW_ROOT/scripts/demo.sh" --arm-vm -l 1 -r fast 2>&1) || { echo "$out"; return 1; }
	echo "$out" | grep -E 'up in|exit status'
	long=$(awk 'length($0) > 80' <<<"$out")
	[ -z "$long" ] || { echo "wider than 80 columns: $long"; return 1; }
	grep -q '^(exit status 0; ' <<<"$out" &&
		grep -qx 'LED 1: red fast 0x3333, green off 0x0000, blue off 0x0000 (write 0x0001)' <<<"$out" || return 1
	out=$("$GLOW_ROOT/scripts/demo.sh" --arm-vm -x 2>&1) || status=$?
	echo "$out" | grep -E 'invalid option|^Usage|exit status'
	[ "$status" -eq 1 ] && grep -q '^(exit status 1; ' <<<"$out" &&
		awk '/invalid option/ && !usage { error = 1 } /^Usage: / { usage = 1 } END { exit !error }' <<<"$out"
}

# What Debian 13 changes (g++ 14, binutils 2.44, glibc 2.41, clang 19's
# format and tidy, lintian, tshark 4.4) meets these stages; the others pass
# there too, run by hand (scripts/debian.sh trixie scripts/test.sh STAGE).
debian13_stages=(host armhf lint)

# The test command in a minimal Debian 13, its counts added to this run's,
# once scripts/debian.sh showed it keeps the system apart and cleans up.
stage_debian13() {
	local log status=0 line inner_passed inner_failed inner_skipped
	check "scripts/debian.sh: a clone in a minimal system, removed however it ends" python3 \
		"$GLOW_ROOT/tests/scripts/test_debian_runner.py" trixie
	log=$(mktemp)
	"$GLOW_ROOT/scripts/debian.sh" trixie scripts/test.sh "${debian13_stages[@]}" 2>&1 | tee "$log" ||
		status=$?
	line=$(grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' "$log" | tail -n 1 || true)
	rm -f "$log"
	[ -n "$line" ] || stage_failed "the test command in Debian 13 closed with no counts"
	read -r inner_passed _ inner_failed _ inner_skipped _ <<<"$line"
	passed=$((passed + inner_passed))
	failed=$((failed + inner_failed))
	skipped=$((skipped + inner_skipped))
	# A failure the counts do not show (its exit status alone).
	[ "$status" -eq 0 ] || [ "$inner_failed" -gt 0 ] || failed=$((failed + 1))
}

# run_stage NAME : a script stage's function, or the workflow preset.
run_stage() {
	if declare -F "stage_${1//-/_}" >/dev/null; then
		"stage_${1//-/_}"
	else
		run_workflow "$1"
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
