#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmarks glow_ctl: whole-run time against glow_emu in network namespaces
# beside a no-op built and linked the same way, in the same harness, instructions per run (callgrind),
# peak resident memory, stripped sizes for the host and armhf, and batches of
# 1, 4 and 16 runs started at the same moment (time and writes applied), and
# the static musl build of the same sources beside the dynamic one.
#
#   sudo bench/run.sh [--runs N] [--record]
#
# --record appends the results as rows of the tables in bench/README.md and
# notes every figure more than 10% worse than the row before.
set -euo pipefail
. "$(dirname "$0")/../scripts/common.sh"
. "$(dirname "$0")/../scripts/testbed.sh"

runs=300
record=
while [ $# -gt 0 ]; do
	case $1 in
	--runs) [ $# -ge 2 ] || die "--runs needs a number: bench/run.sh --runs N"; runs=$2; shift 2 ;;
	--record) record=1; shift ;;
	*) die "usage: bench/run.sh [--runs N] [--record]" ;;
	esac
done
whole_number --runs "$runs" 1 100000
need_root "the benchmark (it creates network namespaces)"

host_packages
apt_install valgrind time binutils musl-tools
build=$GLOW_BUILD/host
build_programs host "$build"
cmake --build "$build" --target bench_noop >/dev/null
ctl=$build/src/glow_ctl
# The static musl build starts without the dynamic loader.
musl_build=$GLOW_BUILD/host-musl
cmake -S "$GLOW_ROOT" --preset bench-musl -B "$musl_build" >/dev/null
cmake --build "$musl_build" --target glow_ctl bench_noop >/dev/null
musl_ctl=$musl_build/src/glow_ctl
args=(-l 1 -r fast -g on -b ultra)

scratch=$(mktemp -d)
on_exit testnet_cleanup
testnet_up "$build" "glow-bench-$$"
start_emulator "$build" --quiet
in_device() { ip netns exec "$testnet_device" "$@"; }

# stripped_size BINARY : its size in bytes once stripped, by the binutils of
# its architecture.
stripped_size() {
	local copy strip=strip
	readelf -hW "$1" | grep -E 'Machine: +ARM$' >/dev/null && strip=arm-linux-gnueabihf-strip
	copy=$(mktemp)
	"$strip" -o "$copy" "$1" && stat -c %s "$copy"
	rm -f "$copy"
}

field() {
	python3 -c "import json,sys; v = json.load(sys.stdin)['$1']; print(f'{v:.3f}' if isinstance(v, float) else v)"
}
timed=$(in_device python3 "$GLOW_ROOT/bench/measure.py" "$runs" "$ctl" "${args[@]}")
# Each build's baseline is its own no-op: it starts as that build does (the
# dynamic loader, or none), so the difference is glow_ctl's own work.
baseline=$(in_device python3 "$GLOW_ROOT/bench/measure.py" "$runs" "$build/bench/bench_noop")
# callgrind_count PROGRAM : instructions of one whole run, start-up included.
callgrind_count() {
	in_device valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" "${args[@]}" 2>&1 |
		sed -n 's/.*Collected : *//p'
}
instructions=$(callgrind_count "$ctl")
musl_timed=$(in_device python3 "$GLOW_ROOT/bench/measure.py" "$runs" "$musl_ctl" "${args[@]}")
musl_instructions=$(callgrind_count "$musl_ctl")
musl_baseline=$(in_device python3 "$GLOW_ROOT/bench/measure.py" "$runs" "$musl_build/bench/bench_noop")
peak_kib=$(in_device /usr/bin/time -f %M "$ctl" "${args[@]}" 2>&1)

host_size=$(stripped_size "$ctl")
armhf_size=-
[ -f "$GLOW_BUILD/armhf/src/glow_ctl" ] && armhf_size=$(stripped_size "$GLOW_BUILD/armhf/src/glow_ctl")

median=$(field median <<<"$timed")
own_ms=$(python3 -c "print(f'{$median - $(field median <<<"$baseline"):.3f}')")
machine="$(uname -m), $(nproc) cores, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
row="| $(date -u +%Y-%m-%d) | $machine | $runs | $median ($(field p10 <<<"$timed")–$(field p90 <<<"$timed")) | $(field median <<<"$baseline") | $own_ms | $instructions | $peak_kib | $host_size | $armhf_size |"

# Overlapping runs: N released at the same moment, each batch timed from the
# release to the last exit; a write the controller drops as stale is lost.
batch_rounds=$((runs < 20 ? runs : 20))
batch_rows=()
for n in 1 4 16; do
	batch=$(in_device python3 "$GLOW_ROOT/bench/overlap.py" "$n" "$batch_rounds" "$scratch/emu.out" \
		"$ctl" "${args[@]}")
	batch_rows+=("| $(date -u +%Y-%m-%d) | $machine | $n | $batch_rounds | $(field median <<<"$batch") ($(field max <<<"$batch")) | $(field applied <<<"$batch") of $(field sent <<<"$batch") | $(field printed <<<"$batch") |")
done

# build_row NAME TIMES INSTRUCTIONS BASELINE : one build's row; own cost is
# the run less that build's no-op.
build_row() {
	local run_ms
	run_ms=$(field median <<<"$2")
	echo "| $(date -u +%Y-%m-%d) | $machine | $1 | $3 | $run_ms | $(python3 -c "print(f'{$run_ms - $(field median <<<"$4"):.3f}')") |"
}
builds_rows=("$(build_row "dynamic, glibc" "$timed" "$instructions" "$baseline")"
	"$(build_row "static, musl" "$musl_timed" "$musl_instructions" "$musl_baseline")")

header="| date | machine | runs | glow_ctl run, ms: median (p10–p90) | no-op, ms | own cost, ms | instructions | peak RSS, KiB | host stripped, B | armhf stripped, B |"
cat <<TABLE
$header
|---|---|---|---|---|---|---|---|---|---|
$row

| date | machine | runs at once | batches | batch, ms: median (max) | writes applied | runs that printed |
|---|---|---|---|---|---|---|
$(printf '%s\n' "${batch_rows[@]}")

| date | machine | build | instructions | run, ms (median) | own cost, ms |
|---|---|---|---|---|---|
$(printf '%s\n' "${builds_rows[@]}")
TABLE

# add_rows FILE ROW... : inserts the rows after the last row of FILE's table
# that has as many columns as they have.
add_rows() {
	python3 - "$@" <<'PY'
import sys
path, rows = sys.argv[1], sys.argv[2:]
with open(path, encoding="utf-8") as readme:
    lines = readme.read().splitlines()
columns = rows[0].count("|")
last = max(i for i, line in enumerate(lines) if line.startswith("|") and line.count("|") == columns)
lines[last + 1:last + 1] = rows
with open(path, "w", encoding="utf-8") as readme:
    readme.write("\n".join(lines) + "\n")
PY
}

if [ -n "$record" ]; then
	readme=$GLOW_ROOT/bench/README.md
	previous=$(grep -E '^\| [0-9]{4}-' "$readme" | awk -F'|' 'NF == 12' | tail -n 1 || true)
	add_rows "$readme" "$row"
	add_rows "$readme" "${batch_rows[@]}"
	add_rows "$readme" "${builds_rows[@]}"
	# The columns compared are found by their names in the header.
	[ -n "$previous" ] && python3 - "$header" "$previous" "$row" <<'PY'
import sys
compared = ("own cost, ms", "instructions", "peak RSS, KiB", "host stripped, B", "armhf stripped, B")
header, old, new = ([c.strip() for c in row.split("|")] for row in sys.argv[1:4])
for name in compared:
    column = header.index(name)
    try:
        before, after = float(old[column]), float(new[column])
    except ValueError:
        continue
    if before > 0 and after > before * 1.10:
        print(f"note: {name} rose {100 * (after / before - 1):.0f}% ({before:g} -> {after:g})")
PY
	echo "recorded in bench/README.md"
fi
