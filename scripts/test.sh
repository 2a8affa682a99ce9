#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every test: installs what is missing, configures, builds, runs CTest.
#
#   sudo scripts/test.sh          (root: the system tests build network namespaces)
#
# Stages, each in its own build folder under build/:
#   host          g++, warnings as errors: unit, system and package tests
#   armhf         the device build (cross compiler), every test run under qemu-user;
#                 size and library checks of the device binary
#   armhf-static  the fully static device build: its system and package tests
#   arm-static    the static musl build for every 32-bit ARM board (ARMv5TE on): its
#                 size, its system tests under qemu-user as four processors, its tarball
#   sanitize      clang with AddressSanitizer and UndefinedBehaviorSanitizer: the whole
#                 suite; any report fails it
#   release       scripts/release.sh --check: the release built twice, in two folders,
#                 gives the same SHA256SUMS
#   fuzz          the libFuzzer targets, ${GLOW_FUZZ_SECONDS:-20} s each from the committed seeds
#   lint          clang-format and clang-tidy over every source file; the man page;
#                 a short run of the benchmark script, so that it keeps working
# Without root the system tests report themselves skipped (under CI=true
# they fail instead).
set -euo pipefail
. "$(dirname "$0")/common.sh"

jobs=${GLOW_JOBS:-2}
passed=0
failed=0
started=$SECONDS

# run_ctest DIR [CTEST ARGS...] : runs the suite of one build and adds up its counts.
run_ctest() {
	local log
	log=$(mktemp)
	local status=0
	(cd "$1" && ctest -j"$jobs" --output-on-failure "${@:2}") 2>&1 | tee "$log" || status=$?
	local line
	line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
	rm -f "$log"
	if [ -z "$line" ]; then
		failed=$((failed + 1))
		return 0
	fi
	local total bad
	total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
	bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
	passed=$((passed + total - bad))
	failed=$((failed + bad))
	[ "$status" -eq 0 ] || [ "$bad" -gt 0 ] || failed=$((failed + 1))
}

# configure_and_build DIR [CMAKE ARGS...]
configure_and_build() {
	local dir=$1
	shift
	cmake -S "$GLOW_ROOT" -B "$dir" -DGLOW_WERROR=ON "$@" >/dev/null
	cmake --build "$dir" -j"$jobs" 2>&1 | grep -vE '^\[ *[0-9]+%\]' || true
	[ "${PIPESTATUS[0]}" -eq 0 ] || die "build in $dir failed"
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
	say "host build (g++)"
	configure_and_build "$GLOW_BUILD/host"
	check "host binary hardened" hardened "$GLOW_BUILD/host/src/glow_ctl" pie ssp fortify relro now
	run_ctest "$GLOW_BUILD/host"
}

armhf_configure_and_build() {
	configure_and_build "$1" -DCMAKE_TOOLCHAIN_FILE="$GLOW_ROOT/cmake/arm-linux-gnueabihf.cmake" \
		-DGLOW_HOST_TOOLS_DIR="$GLOW_BUILD/host/tools" "${@:2}"
}

# stripped_size BINARY : its size in bytes once stripped.
stripped_size() {
	local copy
	copy=$(mktemp)
	arm-linux-gnueabihf-strip -o "$copy" "$1" 2>/dev/null || strip -o "$copy" "$1"
	stat -c %s "$copy"
	rm -f "$copy"
}

needed_libraries() {
	readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ' | sed 's/ $//'
}

# The device binary must fit in 16 KiB stripped and need the C library alone.
device_binary_fits() {
	local size needed
	size=$(stripped_size "$1")
	needed=$(needed_libraries "$1")
	echo "armhf glow_ctl: $size bytes stripped (limit 16384); NEEDED: $needed"
	[ "$size" -le 16384 ] && [ "$needed" = "libc.so.6" ]
}

stage_armhf() {
	say "armhf build (cross compiler, tests under qemu-user)"
	armhf_configure_and_build "$GLOW_BUILD/armhf"
	check "armhf binary size and libraries" device_binary_fits "$GLOW_BUILD/armhf/src/glow_ctl"
	check "armhf binary hardened" hardened "$GLOW_BUILD/armhf/src/glow_ctl" pie ssp fortify relro now
	run_ctest "$GLOW_BUILD/armhf"
}

stage_armhf_static() {
	say "armhf static build"
	armhf_configure_and_build "$GLOW_BUILD/armhf-static" -DGLOW_STATIC=ON
	echo "armhf static glow_ctl: $(stripped_size "$GLOW_BUILD/armhf-static/src/glow_ctl") bytes stripped"
	check "armhf static binary hardened" hardened "$GLOW_BUILD/armhf-static/src/glow_ctl" ssp fortify relro
	run_ctest "$GLOW_BUILD/armhf-static" -L 'system|package'
}

# The one file for every board: static, ARMv5TE, at most 40 KiB stripped.
arm_static_binary_fits() {
	local copy size arch
	copy=$(mktemp)
	arm-linux-gnueabi-strip -o "$copy" "$1"
	size=$(stat -c %s "$copy")
	arch=$(readelf -A "$copy" | sed -n 's/.*Tag_CPU_arch: //p')
	echo "arm static glow_ctl: $size bytes stripped (limit 40960); CPU arch $arch"
	readelf -d "$copy" | grep -q 'no dynamic section' && [ "$size" -le 40960 ] && [ "$arch" = v5TE ]
	local status=$?
	rm -f "$copy"
	return $status
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
	[ "$listing" = "$name/bin/glow_ctl $name/share/bash-completion/completions/glow_ctl $name/share/doc/glow-ctl/changelog.gz $name/share/doc/glow-ctl/copyright $name/share/man/man1/glow_ctl.1.gz " ] &&
		qemu-arm "$work/$name/bin/glow_ctl" -h | grep -qx "Version $version"
	local status=$?
	rm -rf "$work"
	return $status
}

stage_arm_static() {
	say "static musl build for every 32-bit ARM board (tests under qemu-user, four processors)"
	arm_static_packages
	local dir=$GLOW_BUILD/arm-static cpu
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

stage_sanitize() {
	say "sanitizer build (clang, ASan + UBSan)"
	CC=clang CXX=clang++ configure_and_build "$GLOW_BUILD/sanitize" -DGLOW_SANITIZE=ON \
		-DCMAKE_BUILD_TYPE=Debug
	ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		run_ctest "$GLOW_BUILD/sanitize"
}

# fuzz_one TARGET SECONDS : runs one fuzz target from a copy of its seeds.
fuzz_one() {
	local target=$1 seconds=$2 work
	work=$(mktemp -d)
	mkdir "$work/corpus"
	local status=0
	(cd "$work" && "$GLOW_BUILD/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=1400 \
		-close_fd_mask=2 -print_final_stats=1 corpus "$GLOW_ROOT/fuzz/corpus/$target" \
		>"$work/log" 2>&1) || status=$?
	local done_line runs
	done_line=$(grep -E '^#[0-9]+.*DONE' "$work/log" | tail -n 1 || true)
	runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
	echo "fuzz_$target: ${runs:-0} runs in $seconds s; ${done_line#*DONE }"
	if [ "$status" -ne 0 ] || ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
		tail -n 40 "$work/log"
		cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$GLOW_BUILD/fuzz/" 2>/dev/null || true
		rm -rf "$work"
		return 1
	fi
	rm -rf "$work"
}

release_is_reproducible() {
	local dist status=0
	dist=$(mktemp -d)
	"$GLOW_ROOT/scripts/release.sh" --check --dist "$dist" | tail -n 5 || status=$?
	rm -rf "$dist"
	return $status
}

stage_release() {
	say "release: built twice from the last commit, compared"
	check "release reproducible" release_is_reproducible
}

stage_fuzz() {
	say "fuzzing (libFuzzer, ${GLOW_FUZZ_SECONDS:-20} s a target)"
	CC=clang CXX=clang++ configure_and_build "$GLOW_BUILD/fuzz" -DGLOW_FUZZ=ON -DGLOW_TESTS=OFF \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo
	local target
	for target in command_line reply emu_decode; do
		check "fuzz_$target" fuzz_one "$target" "${GLOW_FUZZ_SECONDS:-20}"
	done
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
	warnings=$(MANWIDTH=80 man --warnings -l "$GLOW_ROOT/docs/glow_ctl.1" 2>&1 >/dev/null)
	[ -z "$warnings" ] || { echo "$warnings"; return 1; }
}

stage_lint() {
	say "lint: clang-format, clang-tidy, man page"
	check clang-format clang_format_clean
	check clang-tidy clang_tidy_clean
	check "man page renders cleanly" man_page_clean
	check "SPDX line in every source file" spdx_everywhere
	if [ "$(id -u)" -eq 0 ]; then
		check "benchmark script runs" "$GLOW_ROOT/bench/run.sh" --runs 5
	fi
}

# clang_runtime_package : the sanitizer and fuzzer runtime of the installed
# clang (libclang-rt-14-dev for clang 14).
clang_runtime_package() {
	local major
	major=$(clang -dumpversion | cut -d. -f1)
	[ -n "$major" ] || die "cannot tell the version of clang"
	echo "libclang-rt-$major-dev"
}

host_packages
apt_install clang-format clang-tidy man-db g++-arm-linux-gnueabihf qemu-user binutils \
	clang valgrind tmux lintian
apt_install "$(clang_runtime_package)"
stage_host
stage_armhf
stage_armhf_static
stage_arm_static
stage_sanitize
stage_release
stage_fuzz
stage_lint

say "all stages done in $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
