#!/usr/bin/env bash
# Runs every test: installs what is missing, configures, builds, runs CTest.
#
#   sudo scripts/test.sh          (root: the system tests build network namespaces)
#
# Stages, each in its own build folder under build/:
#   host    g++, warnings as errors: unit and system tests
#   lint    clang-format and clang-tidy over every source file; the man page
# Without root the system tests report themselves skipped (under CI=true
# they fail instead).
set -euo pipefail
. "$(dirname "$0")/common.sh"

jobs=${GLOW_JOBS:-2}
passed=0
failed=0
started=$SECONDS

# run_ctest DIR : runs the suite of one build and adds up its counts.
run_ctest() {
	local log
	log=$(mktemp)
	local status=0
	(cd "$1" && ctest -j"$jobs" --output-on-failure) 2>&1 | tee "$log" || status=$?
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

stage_host() {
	say "host build (g++)"
	configure_and_build "$GLOW_BUILD/host"
	run_ctest "$GLOW_BUILD/host"
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
}

host_packages
apt_install clang-format clang-tidy man-db
stage_host
stage_lint

say "all stages done in $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
