#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The test command: installs what is missing, configures, builds, tests.
#
#   sudo scripts/test.sh              every stage, as CI runs it
#   sudo scripts/test.sh STAGE...     those stages alone, e.g. "host" after a small change
#   scripts/test.sh --list            the stages and what each checks
#
# Root is needed for the system tests (network namespaces); without it they
# report themselves skipped, and under CI=true they fail instead. Each stage
# builds in its own folder under build/ and ends with counted checks; the
# last line adds them up as "N passed, N failed, N skipped". A configure or
# build that fails ends the run there, counted as a failure: nothing runs on
# binaries an earlier build left.
set -euo pipefail
. "$(dirname "$0")/common.sh"

# The stages, in the order a full run takes them: name, then what it checks.
stages=(
	"host        g++, warnings as errors: unit, system and package tests; the binary's hardening"
	"armhf       the device build (cross compiler), every test under qemu-user; its size, libraries, hardening"
	"armhf-static  the fully static glibc device build: its system and package tests"
	"arm-static  the static musl file for every 32-bit ARM board: size, kind, hardening, system tests under four qemu CPUs, tarball"
	"sanitize    clang with AddressSanitizer and UndefinedBehaviorSanitizer: the whole suite; any report fails it"
	"release     scripts/release.sh --check: reprotest builds it twice, varying environment, path, time, locale, umask and more, with the same artefacts; its CycloneDX bills of materials valid"
	"fuzz        the libFuzzer targets from the committed seeds, GLOW_FUZZ_SECONDS (20) s each"
	"lint        clang-format, clang-tidy, the man page, SPDX lines, the completion and the dissector against the keyword table, luacheck, shellcheck"
	"bench       a short run of bench/run.sh, so that the benchmark keeps working"
	"firmware    the Buildroot, Yocto and OpenWrt recipes offer every constant in range and hand each value to CMake as typed; a board build from their options, the source tarball, Ninja and a firmware's flags passes the exchange and the dissector's test on its port"
	"arm-vm      the release's armhf package and static file on Debian's ARM kernel, booted under qemu-system-arm (Cortex-A15, Cortex-A7)"
	"debian13    a fresh clone in a minimal Debian 13 (mmdebstrap minbase, base system cached): the host, armhf and lint stages there, everything installed by the test command"
)

# Limits, each stated here alone.
armhf_size_limit=16384       # the device's glow_ctl, stripped, in bytes
# The static file for every ARM board, stripped. Its read-only relocations
# end on a page boundary, so the file grows by whole pages of padding: 38 KiB
# of program and C library take 38 or 42 KiB depending on where code ends.
arm_static_size_limit=45056
fuzz_seconds=${GLOW_FUZZ_SECONDS:-20}

jobs=${GLOW_JOBS:-2}
passed=0
failed=0
skipped=0
started=$SECONDS
stage=

closed=

# summary : the closing line.
summary() {
	say "stages done in $((SECONDS - started)) s: ${selected[*]}"
	echo "$passed passed, $failed failed, $skipped skipped"
	closed=1
}

# ended_early : a run that ends before its closing line (an install that
# failed, a signal) still closes with its counts, the end counted as a
# failure.
ended_early() {
	[ -n "$closed" ] && return
	echo "FAILED: the run ended early${stage:+, in stage $stage}"
	failed=$((failed + 1))
	summary
}

# stage_failed MESSAGE : the stage cannot go on (its build failed): counted as
# a failure, and the run ends here.
stage_failed() {
	echo "FAILED: stage $stage: $*"
	failed=$((failed + 1))
	summary
	exit 1
}

# run_ctest DIR [CTEST ARGS...] : runs the suite of one build and adds up its
# counts. CTest counts a skipped test (exit 77) as passed and lists it as
# "(Skipped)": here it is counted as skipped.
run_ctest() {
	local log
	log=$(mktemp)
	local status=0
	(cd "$1" && ctest -j"$jobs" --output-on-failure "${@:2}") 2>&1 | tee "$log" || status=$?
	local line not_run
	line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
	not_run=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
	rm -f "$log"
	if [ -z "$line" ]; then
		failed=$((failed + 1))
		return 0
	fi
	local total bad
	total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
	bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
	passed=$((passed + total - bad - not_run))
	failed=$((failed + bad))
	skipped=$((skipped + not_run))
	[ "$status" -eq 0 ] || [ "$bad" -gt 0 ] || failed=$((failed + 1))
}

# check NAME COMMAND... : one pass/fail check outside CTest, counted alike.
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

# configure_and_build DIR [CMAKE ARGS...] : the stage fails unless both
# succeed. The build's progress lines are left out; the filter's own status
# (no other line) does not count, the build's does (pipefail).
configure_and_build() {
	local dir=$1
	shift
	cmake -S "${source_dir:-$GLOW_ROOT}" -B "$dir" -DGLOW_WERROR=ON "$@" >/dev/null ||
		stage_failed "configuring $dir failed"
	cmake --build "$dir" -j"$jobs" 2>&1 | { grep -vE '^\[ *[0-9]+%\]|^\[[0-9]+/[0-9]+\] ' || true; } ||
		stage_failed "the build in $dir failed"
}

# hardened BINARY PROTECTION... : the binary carries at least these.
hardened() {
	local found missing=() wanted
	found=$(protections "$1")
	for wanted in "${@:2}"; do
		[[ " $found " == *" $wanted "* ]] || missing+=("$wanted")
	done
	echo "${1#"$GLOW_BUILD/"}: $found${missing[*]:+ (missing: ${missing[*]})}"
	[ ${#missing[@]} -eq 0 ]
}

stage_host() {
	configure_and_build "$GLOW_BUILD/host"
	check "host binary hardened" hardened "$GLOW_BUILD/host/src/glow_ctl" pie ssp fortify relro now
	run_ctest "$GLOW_BUILD/host"
}

# The cross builds' system tests run the host-built glow_emu and no_socket
# (already there after the host stage).
host_tools() {
	cmake -S "$GLOW_ROOT" -B "$GLOW_BUILD/host" -DGLOW_WERROR=ON >/dev/null ||
		stage_failed "configuring $GLOW_BUILD/host for the host tools failed"
	cmake --build "$GLOW_BUILD/host" -j"$jobs" --target glow_emu no_socket >/dev/null ||
		stage_failed "building the host tools failed"
}

armhf_configure_and_build() {
	apt_install g++-arm-linux-gnueabihf qemu-user binutils
	host_tools
	configure_and_build "$1" -DCMAKE_TOOLCHAIN_FILE="$GLOW_ROOT/cmake/arm-linux-gnueabihf.cmake" \
		-DGLOW_HOST_TOOLS_DIR="$GLOW_BUILD/host/tools" "${@:2}"
}

# The device binary fits its limit stripped and needs the C library alone:
# libc.so.6, and its loader, which on ARM holds the stack protector's guard.
device_binary_fits() {
	local size needed
	size=$(stripped_size "$1")
	needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ' | sed 's/ $//')
	echo "armhf glow_ctl: $size bytes stripped (limit $armhf_size_limit); NEEDED: $needed"
	[ "$size" -le "$armhf_size_limit" ] && [ "$needed" = "ld-linux-armhf.so.3 libc.so.6" ]
}

stage_armhf() {
	local dir=$GLOW_BUILD/armhf
	armhf_configure_and_build "$dir"
	check "armhf binary size and libraries" device_binary_fits "$dir/src/glow_ctl"
	check "armhf binary hardened" hardened "$dir/src/glow_ctl" pie ssp fortify relro now
	run_ctest "$dir"
}

stage_armhf_static() {
	local dir=$GLOW_BUILD/armhf-static
	armhf_configure_and_build "$dir" -DGLOW_STATIC=ON
	echo "armhf static glow_ctl: $(stripped_size "$dir/src/glow_ctl") bytes stripped"
	check "armhf static binary hardened" hardened "$dir/src/glow_ctl" ssp fortify relro
	run_ctest "$dir" -L 'system|package'
}

# The one file for every board: static, ARMv5TE, within its limit stripped.
arm_static_binary_fits() {
	local size arch
	size=$(stripped_size "$1")
	arch=$(readelf -A "$1" | sed -n 's/.*Tag_CPU_arch: //p')
	echo "arm static glow_ctl: $size bytes stripped (limit $arm_static_size_limit); CPU arch $arch"
	grep -q 'no dynamic section' <<<"$(readelf -d "$1")" && [ "$size" -le "$arm_static_size_limit" ] &&
		[ "$arch" = v5TE ]
}

# The tarball holds the program, its man page, completion, licence and
# changelog, and its glow_ctl runs.
arm_static_tarball_holds_the_program() {
	local work name listing version
	work=$(mktemp -d)
	version=$(cache_value "$1" CMAKE_PROJECT_VERSION)
	name=glow_ctl-$version-linux-arm-static
	(cd "$1" && cpack -G TGZ -B "$work" >/dev/null) || { rm -rf "$work"; return 1; }
	listing=$(tar -tzf "$work/$name.tar.gz" | grep -v '/$' | sort | tr '\n' ' ')
	echo "$name.tar.gz: $listing"
	tar -xzf "$work/$name.tar.gz" -C "$work"
	local usage
	[ "$listing" = "$name/bin/glow_ctl $name/share/bash-completion/completions/glow_ctl $name/share/doc/glow-ctl/changelog.gz $name/share/doc/glow-ctl/copyright $name/share/man/man1/glow_ctl.1.gz " ] &&
		usage=$(qemu-arm "$work/$name/bin/glow_ctl" -h) && grep -qx "Version $version" <<<"$usage"
	local status=$?
	rm -rf "$work"
	return $status
}

stage_arm_static() {
	arm_static_packages
	apt_install qemu-user g++-arm-linux-gnueabihf
	local dir=$GLOW_BUILD/arm-static cpu
	host_tools
	configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$GLOW_ROOT/cmake/arm-linux-musleabi.cmake" \
		-DGLOW_HOST_TOOLS_DIR="$GLOW_BUILD/host/tools"
	check "arm static binary size and kind" arm_static_binary_fits "$dir/src/glow_ctl"
	# musl has no fortified functions, and a static file binds nothing.
	check "arm static binary hardened" hardened "$dir/src/glow_ctl" ssp relro
	# ARMv5TE, ARMv6, and two ARMv7 cores.
	for cpu in arm926 arm1176 cortex-a7 cortex-a15; do
		echo "QEMU_CPU=$cpu"
		QEMU_CPU=$cpu run_ctest "$dir"
	done
	check "arm static tarball" arm_static_tarball_holds_the_program "$dir"
}

# clang_runtime_package : the sanitizer and fuzzer runtime of the installed
# clang (libclang-rt-14-dev for clang 14).
clang_runtime_package() {
	local major
	major=$(clang -dumpversion | cut -d. -f1)
	[ -n "$major" ] || die "cannot tell the version of clang"
	echo "libclang-rt-$major-dev"
}

clang_packages() {
	apt_install clang
	apt_install "$(clang_runtime_package)"
}

stage_sanitize() {
	clang_packages
	CC=clang CXX=clang++ configure_and_build "$GLOW_BUILD/sanitize" -DGLOW_SANITIZE=ON \
		-DCMAKE_BUILD_TYPE=Debug
	ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		run_ctest "$GLOW_BUILD/sanitize"
}

# The release is built twice by reprotest and compared; its bills of
# materials are valid CycloneDX and name their artefacts. The arm-vm stage
# boots what it made.
release_dist=

release_is_reproducible() {
	"$GLOW_ROOT/scripts/release.sh" --check --dist "$1" | tail -n 12
}

release_sboms_valid() {
	/usr/bin/python3 "$GLOW_ROOT/scripts/sbom.py" check "$GLOW_CACHE" "$1"/*.cdx.json
}

stage_release() {
	# The schemas come over HTTPS: ca-certificates, which a minimal system lacks.
	apt_install python3-jsonschema ca-certificates
	local dist=$GLOW_BUILD/release
	rm -rf "$dist"
	check "release reproducible under reprotest" release_is_reproducible "$dist"
	[ -f "$dist/SHA256SUMS" ] && release_dist=$dist
	check "release bills of materials" release_sboms_valid "$dist"
	check "bills of materials checker refuses what is not valid" /usr/bin/python3 \
		"$GLOW_ROOT/tests/release/test_sbom_check.py" "$GLOW_CACHE" "$dist"/glow-ctl_*_armhf.deb.cdx.json
}

# fuzz_start TARGET WORK : starts one fuzz target in the background, in the
# folder WORK, from a copy of its seeds.
fuzz_start() {
	mkdir "$2/corpus"
	(cd "$2" && exec "$GLOW_BUILD/fuzz/fuzz/fuzz_$1" -max_total_time="$fuzz_seconds" \
		-close_fd_mask=2 -print_final_stats=1 corpus "$GLOW_ROOT/fuzz/corpus/$1" >log 2>&1) &
}

# fuzz_outcome TARGET WORK STATUS : what the target's run found; fails on a
# failed run or any crash, leak or timeout it left, which are kept in
# build/fuzz.
fuzz_outcome() {
	local target=$1 work=$2 status=$3 done_line runs
	done_line=$(grep -E '^#[0-9]+.*DONE' "$work/log" | tail -n 1 || true)
	runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
	echo "fuzz_$target: ${runs:-0} runs in $fuzz_seconds s; ${done_line#*DONE }"
	if [ "$status" -ne 0 ] || ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
		tail -n 40 "$work/log"
		cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$GLOW_BUILD/fuzz/" 2>/dev/null || true
		return 1
	fi
}

# The targets run side by side, each for fuzz_seconds: one at a time left
# the other core idle for a minute.
stage_fuzz() {
	clang_packages
	CC=clang CXX=clang++ configure_and_build "$GLOW_BUILD/fuzz" -DGLOW_FUZZ=ON -DGLOW_TESTS=OFF \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo
	local targets=(command_line reply emu_decode) pids=() works=() i status
	for i in "${!targets[@]}"; do
		works[i]=$(mktemp -d)
		fuzz_start "${targets[i]}" "${works[i]}"
		pids[i]=$!
	done
	for i in "${!targets[@]}"; do
		status=0
		wait "${pids[i]}" || status=$?
		check "fuzz_${targets[i]}" fuzz_outcome "${targets[i]}" "${works[i]}" "$status"
		rm -rf "${works[i]}"
	done
}

sources() {
	(cd "$GLOW_ROOT" && git ls-files -co --exclude-standard -- '*.cpp' '*.h')
}

clang_format_clean() {
	(cd "$GLOW_ROOT" && sources | xargs clang-format --dry-run -Werror)
}

clang_tidy_clean() {
	(cd "$GLOW_ROOT" && sources | grep '\.cpp$' | grep -v '^fuzz/' |
		xargs -P "$jobs" -n 4 clang-tidy -p "$GLOW_BUILD/host" --quiet 2>/dev/null |
		{ ! grep -E '(warning|error):'; })
}

# Every file of the project's own carries its licence's SPDX line.
spdx_everywhere() {
	local missing
	missing=$(cd "$GLOW_ROOT" && git ls-files -co --exclude-standard | grep -vE '(^|/)corpus/|\.md$|^LICENSE$|^\.' |
		xargs grep -L 'SPDX-License-Identifier: MIT' || true)
	[ -z "$missing" ] || { echo "no SPDX line: $missing"; return 1; }
}

man_page_clean() {
	local warnings
	warnings=$(MANWIDTH=80 man --warnings -l "$GLOW_BUILD/host/docs/glow_ctl.1" 2>&1 >/dev/null)
	[ -z "$warnings" ] || { echo "$warnings"; return 1; }
}

# The completion, the man page and the Wireshark dissector are written by
# hand: the completion offers exactly the keywords of the table the program
# reads, and the man page's table and the dissector give each its pattern.
keywords_in_step() {
	local entries names completion name pattern
	entries=$(grep -oE '\{"[a-z]+", 0x[0-9A-F]{4}\}' "$GLOW_ROOT/src/frontend/value_keywords.h" |
		sed -E 's/\{"([a-z]+)", (0x[0-9A-F]{4})\}/\1 \2/')
	names=$(cut -d' ' -f1 <<<"$entries" | sort | tr '\n' ' ')
	completion=$(sed -n "s/^[[:space:]]*local keywords='\(.*\)'$/\1/p" "$GLOW_ROOT/completion/glow_ctl" |
		tr ' ' '\n' | sort | tr '\n' ' ')
	echo "keywords: $names; completion: $completion"
	[ -n "$entries" ] && [ "$names" = "$completion" ] || return 1
	while read -r name pattern; do
		grep -qP "^$name( \\(any other\\))?\t$pattern\t" "$GLOW_ROOT/docs/glow_ctl.1.in" ||
			{ echo "the man page's table lacks $name $pattern"; return 1; }
		grep -qF "[$pattern] = \"$name\"" "$GLOW_ROOT/contrib/wireshark/glowctl.lua" ||
			{ echo "the dissector's keywords lack $name $pattern"; return 1; }
	done <<<"$entries"
}

# The dissector is Lua 5.2, as Debian 12's Wireshark runs it, using
# Wireshark's own globals alone.
dissector_clean() {
	luacheck --no-color --std lua52 --read-globals Proto ProtoField ProtoExpert expert base Pref DissectorTable \
		-- "$GLOW_ROOT/contrib/wireshark/glowctl.lua"
}

# The shell scripts, by shellcheck (warnings and errors), and without a pipe
# into a reader that may quit before the writer is done (grep -q, grep -m,
# head): under pipefail the writer's SIGPIPE fails such a pipe whenever the
# reader is the quicker, so its result would depend on timing.
scripts_clean() {
	local scripts early
	scripts=("$GLOW_ROOT"/scripts/*.sh "$GLOW_ROOT/bench/run.sh" "$GLOW_ROOT/.ci/run")
	shellcheck --severity=warning --external-sources --source-path=SCRIPTDIR \
		--source-path=SCRIPTDIR/../scripts "${scripts[@]}" || return 1
	early=$(grep -nE '\|[[:space:]]*(grep[[:space:]]+-[a-zA-Z]*[qm]|hea[d]\b)' "${scripts[@]}" || true)
	[ -z "$early" ] || { echo "a pipe into a reader that quits early: $early"; return 1; }
}

stage_lint() {
	apt_install clang-format clang-tidy man-db lua-check shellcheck
	[ -f "$GLOW_BUILD/host/compile_commands.json" ] || configure_and_build "$GLOW_BUILD/host"
	check clang-format clang_format_clean
	check clang-tidy clang_tidy_clean
	check "man page renders cleanly" man_page_clean
	check "SPDX line in every source file" spdx_everywhere
	check "dissector clean under luacheck" dissector_clean
	check "shell scripts clean under shellcheck, no pipe into grep -q or head" scripts_clean
	check "completion, man page and dissector offer the keyword table" keywords_in_step
}

stage_bench() {
	if [ "$(id -u)" -eq 0 ]; then
		check "benchmark script runs" "$GLOW_ROOT/bench/run.sh" --runs 5
	else
		echo "SKIPPED: the benchmark needs root"
		skipped=$((skipped + 1))
	fi
}

# A board other than the default, as a firmware build would set it.
firmware_board=(GLOW_INTERFACE=eth0 GLOW_OWN_ADDRESS=169.254.7.1 GLOW_CONTROLLER_ADDRESS=169.254.7.2 GLOW_PORT=9100)
# A firmware's own flags, passed as Yocto passes them (no build type): its
# fortification level differs from the project's own.
firmware_flags="-O2 -pipe -D_FORTIFY_SOURCE=1"

# firmware_flags_alone BUILD : the build passed the firmware's flags and
# added none of the project's own: no hardening, no prefix maps, no build
# type's optimisation.
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
	apt_install python3-kconfiglib ninja-build g++-arm-linux-gnueabihf qemu-user binutils
	local dir=$GLOW_BUILD/armhf-board options work tree tarball
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
	echo "built from $(basename "$tarball") of ${tree:-HEAD}, unpacked outside the checkout"
	host_tools
	rm -rf "$dir"
	CFLAGS=$firmware_flags CXXFLAGS=$firmware_flags source_dir=$work/glow-ctl-$(commit_version "${tree:-HEAD}") \
		configure_and_build "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$GLOW_ROOT/cmake/arm-linux-gnueabihf.cmake" \
		-DGLOW_HOST_TOOLS_DIR="$GLOW_BUILD/host/tools" "${options[@]}" -DGLOW_TESTS=ON
	check "firmware build takes the firmware's flags alone" firmware_flags_alone "$dir"
	run_ctest "$dir" -R 'system\.(exchange|command_line|dissector)'
	rm -rf "$work"
}

# The booted guest runs what a release of the last commit ships: the
# packages' and the tarball's exact bytes, the release stage's when it ran.
stage_arm_vm() {
	apt_install qemu-system-arm
	host_tools
	local dist=$release_dist host=$GLOW_BUILD/host cpu version
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
	for cpu in cortex-a15 cortex-a7; do
		check "booted ARM kernel, $cpu" env "${constants[@]}" GLOW_ARM_VM_CPU="$cpu" \
			GLOW_ARM_VM_CACHE="$GLOW_CACHE/arm-vm" \
			GLOW_ARM_VM_DEB="$dist/glow-ctl_${version}_armhf.deb" \
			GLOW_ARM_VM_TARBALL="$dist/glow_ctl-$version-linux-arm-static.tar.gz" \
			GLOW_EMU="$host/tools/glow_emu" GLOW_VERSION="$version" GLOW_MAN_PAGE="$host/docs/glow_ctl.1" \
			PYTHONDONTWRITEBYTECODE=1 python3 "$GLOW_ROOT/tests/system/test_booted.py"
	done
	check "demo --arm-vm" demo_on_arm_vm
}

# The demo boots the same guest and shows the controller's state after the
# guest's run, on lines that fit 80 columns.
demo_on_arm_vm() {
	local out long
	out=$("$GLOW_ROOT/scripts/demo.sh" --arm-vm -l 1 -r fast 2>&1) || { echo "$out"; return 1; }
	echo "$out" | grep -E 'up in|exit status'
	long=$(awk 'length($0) > 80' <<<"$out")
	[ -z "$long" ] || { echo "wider than 80 columns: $long"; return 1; }
	grep -q '^(exit status 0; ' <<<"$out" &&
		grep -qx 'LED 1: red fast 0x3333, green off 0x0000, blue off 0x0000 (write 0x0001)' <<<"$out"
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

stage_names() {
	local stage
	for stage in "${stages[@]}"; do echo "${stage%% *}"; done
}

# is_stage NAME : whether NAME is one of the stages (a loop: see scripts_clean
# on pipes into grep -q).
is_stage() {
	local stage
	for stage in "${stages[@]}"; do [ "${stage%% *}" = "$1" ] && return 0; done
	return 1
}

# describe NAME : the stage's line of the list.
describe() {
	local stage
	for stage in "${stages[@]}"; do
		[ "${stage%% *}" = "$1" ] || continue
		local what=${stage#* }
		printf '%-13s %s\n' "$1" "${what#"${what%%[! ]*}"}"
	done
}

if [ "${1:-}" = "--list" ]; then
	for name in $(stage_names); do describe "$name"; done
	exit 0
fi
selected=("$@")
[ ${#selected[@]} -gt 0 ] || mapfile -t selected < <(stage_names)
for name in "${selected[@]}"; do
	is_stage "$name" || die "no stage '$name'; scripts/test.sh --list shows them"
done
# Inside the minimal Debian that scripts/debian.sh makes, a full run leaves
# out the stage that makes one.
if [ -n "${GLOW_DEBIAN_SUITE:-}" ]; then
	[ $# -eq 0 ] || [[ " $* " != *" debian13 "* ]] || die "already in a minimal Debian $GLOW_DEBIAN_SUITE"
	mapfile -t selected < <(printf '%s\n' "${selected[@]}" | grep -vx debian13)
fi

trap ended_early EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
host_packages
apt_install tmux valgrind lintian tshark tcpdump
for stage in "${selected[@]}"; do
	say "$(describe "$stage")"
	stage_started=$SECONDS
	"stage_${stage//-/_}"
	echo "($stage took $((SECONDS - stage_started)) s)"
done

summary
# CI has everything a test needs: there, a skipped test is a failure too.
[ "$failed" -eq 0 ] && { [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ]; }
